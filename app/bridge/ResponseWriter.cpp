// The response writer: the head every answer carries, JSON that cannot be
// written, and thrown refusals turned into answers.
#include "app/bridge/Responder.hpp"
#include "core/BridgeError.hpp"
#include "core/LogFile.hpp"

void Responder::send(std::shared_ptr<SchemeTask> task, int status, std::string body, std::string contentType,
                     HeaderMap extra) {
    if (!main_.isCurrent()) {
        onMain([this, task = std::move(task), status, body = std::move(body), contentType = std::move(contentType),
                extra = std::move(extra)]() mutable {
            send(std::move(task), status, std::move(body), std::move(contentType), std::move(extra));
        });
        return;
    }
    if (stopped_.erase(task) > 0) return;
    HeaderMap headers;
    headers["Content-Type"] = std::move(contentType);
    headers["Content-Length"] = std::to_string(body.size());
    headers["Cache-Control"] = "no-store";
    for (auto& [name, value] : extra) headers[name] = std::move(value);
    task->finish(status, headers, std::move(body));
}

void Responder::sendJSON(std::shared_ptr<SchemeTask> task, int status, const nlohmann::json& value) {
    std::string body;
    try {
        body = value.dump();
    } catch (const nlohmann::json::exception&) {
        // Only text that is not valid UTF-8 cannot be written as JSON, and
        // every name is refused where it enters, so this is a fault. An empty
        // object with the caller's status would be a success that tells the
        // page nothing: it is told of the failure instead.
        appLog().add("answer: not valid UTF-8, " + std::to_string(status) + " sent as 500");
        status = 500;
        body = nlohmann::json{{"error", "the answer holds text that is not valid UTF-8"}}.dump();
    }
    send(std::move(task), status, std::move(body), "application/json");
}

void Responder::sendError(std::shared_ptr<SchemeTask> task, int status, const std::string& message) {
    sendJSON(std::move(task), status, nlohmann::json{{"error", message}});
}

void Responder::answering(const std::shared_ptr<SchemeTask>& task, const std::function<void()>& operation) {
    try {
        operation();
    } catch (const BridgeError& error) {
        sendError(task, error.status, error.message);
    } catch (const std::exception& error) {
        sendError(task, 500, error.what());
    } catch (...) {
        sendError(task, 500, "unknown error");
    }
}

void Responder::onMain(std::function<void()> job) { main_.post(whileAlive(std::move(job))); }

void Responder::stop(const std::shared_ptr<SchemeTask>& task) {
    QUILLMARSH_ONLY_ON(main_);
    stopped_.insert(task);
}
