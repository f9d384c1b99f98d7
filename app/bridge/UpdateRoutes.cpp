#include "app/bridge/UpdateRoutes.hpp"

#include <chrono>

#include "core/LogFile.hpp"

namespace {

UpdateCheck::Seconds now() {
    return std::chrono::duration_cast<UpdateCheck::Seconds>(std::chrono::system_clock::now().time_since_epoch());
}

std::string textSetting(const Settings& settings, const char* key) {
    const auto& values = settings.values();
    auto found = values.find(key);
    return found != values.end() && found->is_string() ? found->get<std::string>() : std::string();
}

}  // namespace

UpdateRoutes::UpdateRoutes(Responder& responder, Queue& io, Queue& updates, const Settings& settings,
                           const JSONFile& state, Network& network, Workspace& workspace, std::string running,
                           const UpdateFetcher::Options& options, const std::atomic<bool>& stop)
    : responder_(responder),
      io_(io),
      updates_(updates),
      settings_(settings),
      state_(state),
      network_(network),
      workspace_(workspace),
      running_(std::move(running)),
      options_(options),
      stop_(stop) {}

void UpdateRoutes::addRoutes(RouteTable& table) {
    table.add("GET", "/api/update/check", StartOn::io, [this](ApiRequest& request) { check(request); });
    table.add("POST", "/api/update/download", StartOn::io, [this](ApiRequest& request) { download(request); });
}

std::optional<UpdateCheck::Seconds> UpdateRoutes::lastCheck() const {
    auto state = state_.load();
    if (!state || !state->is_object()) return std::nullopt;
    auto last = state->find("last");
    if (last == state->end() || !last->is_number()) return std::nullopt;
    return UpdateCheck::Seconds(last->get<double>());
}

bool UpdateRoutes::automaticChecksOn() const { return textSetting(settings_, "updates") == "on"; }

std::string UpdateRoutes::skippedVersion() const { return textSetting(settings_, "updateSkip"); }

void UpdateRoutes::check(const ApiRequest& request) {
    const std::string* automatic = request.item("auto");
    if (automatic && *automatic == "1") {
        if (!automaticChecksOn() || !UpdateCheck::dueOnOpen(lastCheck(), now())) {
            return responder_.sendJSON(request.task, 200, {{"state", "not-due"}});
        }
    }
    // The start is remembered before the result is known, so a failing
    // server is not asked again for a day by automatic checks.
    state_.save({{"last", now().count()}});

    // The fetch blocks its thread for up to its time limit: never io's.
    updates_.async([this, task = request.task, options = options_] {
        UpdateFetcher fetcher(options, "Quillmarsh/" + running_, [this] { return network_.online(); }, stop_);
        fetcher.check(running_, [this, task](UpdateResult result) {
            io_.async([this, task, result = std::move(result)] { answer(task, result); });
        });
    });
}

void UpdateRoutes::answer(const std::shared_ptr<SchemeTask>& task, const UpdateResult& result) {
    nlohmann::json body = {{"current", running_}};
    struct Fill {
        nlohmann::json& body;
        const UpdateRoutes& routes;
        void operator()(const UpdateResult::Current& current) const {
            body["state"] = "current";
            body["latest"] = current.version;
        }
        void operator()(const UpdateResult::Newer& newer) const {
            body["state"] = "newer";
            body["version"] = newer.info.version;
            body["notes"] = newer.info.notes ? nlohmann::json(*newer.info.notes) : nlohmann::json(nullptr);
            body["minMacOS"] = newer.info.minMacOS;
            // The feed is shared with the other desktop platform, and its
            // minimum names that platform's system version. Held against this
            // system's kernel release it would call every update too new, so
            // here it always fits; UpdateCheck::macOSAtLeast stays the rule
            // for where the minimum means something.
            body["fits"] = true;
            body["skipped"] = routes.skippedVersion() == newer.info.version;
        }
        void operator()(const UpdateResult::Failed& failed) const {
            body["state"] = "failed";
            body["why"] = failed.reason;
        }
    };
    std::visit(Fill{body, *this}, result.value());
    appLog().add("update check: " + body["state"].get<std::string>());
    responder_.sendJSON(task, 200, body);
}

void UpdateRoutes::download(const ApiRequest& request) {
    const std::string page(UpdateCheck::page);
    // The answer goes first: the page need not wait for the browser to start.
    responder_.sendJSON(request.task, 200, {{"opened", page}});
    responder_.onMain([this, page] { workspace_.openURL(page); });
}
