#include "app/bridge/SettingsRoutes.hpp"

#include "core/BridgeError.hpp"

SettingsRoutes::SettingsRoutes(Responder& responder, Settings& settings) : responder_(responder), settings_(settings) {}

void SettingsRoutes::addRoutes(RouteTable& table) {
    table.add("GET", "/api/settings", StartOn::io,
              [this](ApiRequest& request) { responder_.sendJSON(request.task, 200, settings_.values()); });
    table.add("POST", "/api/settings", StartOn::io, [this](ApiRequest& request) {
        auto changes = nlohmann::json::parse(request.body, nullptr, /*allow_exceptions=*/false);
        // Entries that break a rule are no error: the answer shows what holds.
        if (!changes.is_object()) throw BridgeError(400, "settings must be an object");
        responder_.sendJSON(request.task, 200, settings_.update(changes));
    });
}
