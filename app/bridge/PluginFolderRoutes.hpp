#pragma once
// A plugin's own folder for the page: its state (the folder's name and its
// Markdown files, never its path), choosing it in a panel, forgetting it and
// creating a file in it. The plugin is named by the query parameter "plugin".
// All on io, where the store and the folders reached in this run live.
#include <map>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "app/bridge/Responder.hpp"
#include "app/bridge/RouteTable.hpp"
#include "core/Dispatch.hpp"
#include "core/PluginFolderStore.hpp"

class PluginFolderRoutes {
public:
    PluginFolderRoutes(Responder& responder, Queue& io, Panels& panels, Bookmarks& bookmarks,
                       PluginFolderStore& store);
    void addRoutes(RouteTable& table);

private:
    // Checks the plugin id, then the method and path, and runs the endpoint.
    void route(const ApiRequest& request);
    void choose(const ApiRequest& request, const std::string& id);
    void create(const ApiRequest& request, const std::string& id);

    // The plugin's folder if it can be reached now: the one reached earlier in
    // this run while it is still a folder, else the remembered one (through
    // its bookmark when that resolves).
    std::optional<std::string> reach(const std::string& id);
    // Stops using the folder reached for the plugin in this run, if any.
    void letGo(const std::string& id);
    nlohmann::json state(const std::string& id);

    Responder& responder_;
    Queue& io_;
    Panels& panels_;
    Bookmarks& bookmarks_;
    PluginFolderStore& store_;
    // Plugin id to the folder reached in this run (its scope entered).
    std::map<std::string, std::string> pluginAccess_;
};
