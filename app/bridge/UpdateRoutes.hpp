#pragma once
// The update check for the page: GET /api/update/check (automatic checks at
// most once a day, and only when the user turned them on) and POST
// /api/update/download, which only opens the tools page in the browser. The
// program itself never downloads or installs anything.
//
// Starts on io, where the settings and the check's remembered time live; the
// fetch blocks a thread of the update queue and hands its result back to io.
#include <atomic>
#include <string>

#include "app/bridge/Platform.hpp"
#include "app/bridge/Responder.hpp"
#include "app/bridge/RouteTable.hpp"
#include "core/Dispatch.hpp"
#include "core/JSONFile.hpp"
#include "core/Settings.hpp"
#include "core/UpdateFetcher.hpp"

class UpdateRoutes {
public:
    // `options` and `stop` belong to the Bridge and outlive every fetch;
    // `running` is the program's own version ("" when unknown).
    UpdateRoutes(Responder& responder, Queue& io, Queue& updates, const Settings& settings, const JSONFile& state,
                 Network& network, Workspace& workspace, std::string running, const UpdateFetcher::Options& options,
                 const std::atomic<bool>& stop);
    void addRoutes(RouteTable& table);

private:
    void check(const ApiRequest& request);
    void download(const ApiRequest& request);
    // On io, with the fetch's result.
    void answer(const std::shared_ptr<SchemeTask>& task, const UpdateResult& result);
    // When the last check started, from the state file; none when it holds no time.
    std::optional<UpdateCheck::Seconds> lastCheck() const;
    bool automaticChecksOn() const;
    std::string skippedVersion() const;

    Responder& responder_;
    Queue& io_;
    Queue& updates_;
    const Settings& settings_;
    const JSONFile& state_;
    Network& network_;
    Workspace& workspace_;
    const std::string running_;
    const UpdateFetcher::Options& options_;
    const std::atomic<bool>& stop_;
};
