// PUT /api/file: the page saves a document. io only finds the document's own
// serial queue, so saves of one document run in the order the page sent them
// while saves of different documents run side by side. A per-file lock also
// serialises saves that name one file under two keys (a handle and a path).
#include "app/bridge/Bridge.hpp"
#include "core/BridgeError.hpp"
#include "core/Files.hpp"
#include "core/LogFile.hpp"

namespace {

// The capitalised spelling first, then the lower-case one; no other.
std::optional<std::string> header(const HeaderMap& headers, const char* name, const char* lower) {
    auto found = headers.find(name);
    if (found == headers.end()) found = headers.find(lower);
    if (found == headers.end()) return std::nullopt;
    return found->second;
}

}  // namespace

std::shared_ptr<std::mutex> Bridge::fileLock(const std::string& path) {
    std::lock_guard lock(versionsLock);
    auto& entry = fileLocks[path];
    if (!entry) entry = std::make_shared<std::mutex>();
    return entry;
}

void Bridge::putFile(ApiRequest& request) {
    auto& queue = saveQueues[readKey(request.query)];
    if (!queue) queue = std::make_unique<SerialQueue>("quillmarsh.bridge.save");
    // The body moves on with the job (it may be 20 MiB); the rest is small.
    ApiRequest job{request.task, request.method, request.path, request.query, std::move(request.body), request.headers};
    queue->async([this, job = std::move(job), folder = root, handles = picked] {
        answering(job.task, [&] { saveDocument(job, folder, *handles); });
    });
}

void Bridge::saveDocument(const ApiRequest& request, const std::optional<std::string>& folder,
                          const Handles& handles) {
    const HeaderMap& headers = request.headers;
    const std::string& body = request.body;
    Files::checkSaveBody(body, header(headers, "X-Quillmarsh-Bytes", "x-quillmarsh-bytes"));
    Files::Place place = documentPlace(request.query, folder, handles);
    const std::string& url = place.path;
    std::string base = header(headers, "X-Quillmarsh-Base-Version", "x-quillmarsh-base-version").value_or("");
    bool overwrite = header(headers, "X-Quillmarsh-Overwrite", "x-quillmarsh-overwrite") == "1";

    auto lock = fileLock(lockKey(place));
    std::unique_lock held(*lock);
    try {
        Files::Saved saved = Files::save(body, place, base, {.overwrite = overwrite, .backups = &backups});
        sendJSON(request.task, 200,
                 {{"saved", url}, {"bytes", body.size()}, {"version", saved.version}, {"backup", saved.backup.has_value()}});
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
                if (backups.lastWritten(url) == Files::ready(place).version) {
                    sendJSON(request.task, 409, {{"error", refusal.message}, {"byThisApp", true}});
                    return;
                }
            } catch (const BridgeError&) {
            }
        }
        held.unlock();
        throw;
    }
}
