#include "app/bridge/SaveRoutes.hpp"

#include "app/bridge/DocumentAddress.hpp"
#include "core/BridgeError.hpp"
#include "core/Files.hpp"
#include "core/LogFile.hpp"

SaveRoutes::SaveRoutes(Responder& responder, KeyedSerialQueue& saves, Queue& helpers, const OpenFolder& folder,
                       const FileHandles& handles, FileLocks& locks, Backups& backups)
    : responder_(responder),
      saves_(saves),
      helpers_(helpers),
      folder_(folder),
      handles_(handles),
      locks_(locks),
      backups_(backups) {}

void SaveRoutes::addRoutes(RouteTable& table) {
    table.add("PUT", "/api/file", StartOn::main, [this](ApiRequest& request) { putFile(request); });
}

void SaveRoutes::putFile(ApiRequest& request) {
    // Before the request moves into the job below.
    std::string key = DocumentAddress::readKey(request.query);
    // The body moves on with the job (it may be 20 MiB); the rest is small.
    saves_.async(key, [this, job = std::move(request), folder = folder_.current(), handles = handles_.current()] {
                     responder_.answering(job.task, [&] { saveDocument(job, folder, *handles); });
                 });
}

void SaveRoutes::saveDocument(const ApiRequest& request, const std::optional<std::string>& folder,
                              const FileHandles::Map& handles) {
    const std::string& body = request.body;
    const std::string* sent = request.header("X-Quillmarsh-Bytes", "x-quillmarsh-bytes");
    Files::checkSaveBody(body, sent ? std::optional<std::string>(*sent) : std::nullopt);
    Files::Place place = DocumentAddress::place(request.query, folder, handles);
    const std::string& path = place.path;
    const std::string* baseHeader = request.header("X-Quillmarsh-Base-Version", "x-quillmarsh-base-version");
    std::string base = baseHeader ? *baseHeader : std::string();
    const std::string* overwrite = request.header("X-Quillmarsh-Overwrite", "x-quillmarsh-overwrite");

    auto lock = locks_.of(DocumentAddress::lockKey(place));
    std::unique_lock held(*lock);
    try {
        Files::Saved saved = Files::save(
            body, place, base,
            {.overwrite = overwrite && *overwrite == "1", .backups = &backups_, .helpers = &helpers_});
        responder_.sendJSON(request.task, 200,
                            {{"saved", path},
                             {"bytes", body.size()},
                             {"version", saved.version},
                             {"backup", saved.backup.has_value()}});
        // After the answer: the page waits for it, nobody waits for the log.
        appLog().add("save: " + std::to_string(body.size()) + " bytes via " + saved.route +
                     (saved.backup ? ", earlier version kept in Backups" : ""));
    } catch (const BridgeError& refusal) {
        appLog().add("save: refused " + std::to_string(refusal.status));
        if (refusal.status == 409) {
            // The version in the way may be one this process wrote (an earlier
            // save whose answer the page never saw): say so, so the page can
            // take it as its own instead of asking the user.
            try {
                if (backups_.lastWritten(path) == Files::ready(place).version) {
                    responder_.sendJSON(request.task, 409, {{"error", refusal.message}, {"byThisApp", true}});
                    return;
                }
            } catch (const BridgeError&) {
            }
        }
        held.unlock();
        throw;
    }
}
