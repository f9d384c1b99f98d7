#pragma once
// Small endpoints about the program itself (build, about, changelog), showing
// the Backups folder, and the quit request.
#include <functional>
#include <string>

#include <nlohmann/json.hpp>

#include "app/bridge/Responder.hpp"
#include "app/bridge/RouteTable.hpp"

class InfoRoutes {
public:
    // `info` is the editor's build information; `quit` runs on the main
    // thread when the page asks to quit.
    InfoRoutes(Responder& responder, Workspace& workspace, std::string editor, const nlohmann::json& info,
               std::string backupsFolder, std::function<void()> quit);
    void addRoutes(RouteTable& table);

private:
    void getBuild(const ApiRequest& request);
    void getAbout(const ApiRequest& request);
    void getChangelog(const ApiRequest& request);
    void showBackups(const ApiRequest& request);
    void quit(const ApiRequest& request);

    Responder& responder_;
    Workspace& workspace_;
    const std::string editor_;
    const nlohmann::json& info_;
    const std::string backupsFolder_;
    std::function<void()> quit_;
};
