#pragma once
// The user's settings for the page: all of them, and changes to any of them.
// On io, where the settings live.
#include "app/bridge/Responder.hpp"
#include "app/bridge/RouteTable.hpp"
#include "core/Settings.hpp"

class SettingsRoutes {
public:
    SettingsRoutes(Responder& responder, Settings& settings);
    void addRoutes(RouteTable& table);

private:
    Responder& responder_;
    Settings& settings_;
};
