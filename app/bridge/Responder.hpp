#pragma once
// The one way an answer reaches the page: always on the main thread, once,
// and never for a request the page has abandoned. Every route group answers
// through it; it also carries work back to the main thread for as long as
// the Bridge lives.
#include <atomic>
#include <functional>
#include <memory>
#include <set>
#include <string>

#include <nlohmann/json.hpp>

#include "app/bridge/Platform.hpp"

class Responder {
public:
    explicit Responder(MainQueue& main) : main_(main) {}
    // Work already posted to the main thread is dropped from here on.
    ~Responder() { *alive_ = false; }
    Responder(const Responder&) = delete;
    Responder& operator=(const Responder&) = delete;

    // Any thread.
    void send(std::shared_ptr<SchemeTask> task, int status, std::string body, std::string contentType,
              HeaderMap extra = {});
    // A value that cannot be written as JSON (text that is not UTF-8) is
    // answered as 500 with an error, never as a success.
    void sendJSON(std::shared_ptr<SchemeTask> task, int status, const nlohmann::json& value);
    void sendError(std::shared_ptr<SchemeTask> task, int status, const std::string& message);
    // Runs an operation and answers whatever it throws: a BridgeError with its
    // own status and message, anything else as 500 with its description.
    void answering(const std::shared_ptr<SchemeTask>& task, const std::function<void()>& operation);

    // Runs `job` on the main thread unless the Bridge is gone by then. Any thread.
    void onMain(std::function<void()> job);

    // `f` wrapped so that it does nothing once the Bridge is gone: for what
    // the platform calls back later on the main thread.
    template <typename F>
    auto whileAlive(F f) const {
        return [alive = alive_, f = std::move(f)](auto&&... args) mutable {
            if (*alive) f(std::forward<decltype(args)>(args)...);
        };
    }

    // The page abandoned the task: its answer is dropped. Main thread only.
    void stop(const std::shared_ptr<SchemeTask>& task);
    // Tasks abandoned and not yet answered. Main thread only. Held by
    // reference so that a stopped task's identity cannot be reused by a later one.
    const std::set<std::shared_ptr<SchemeTask>>& stopped() const { return stopped_; }

    MainQueue& main() const { return main_; }

private:
    MainQueue& main_;
    std::set<std::shared_ptr<SchemeTask>> stopped_;
    std::shared_ptr<std::atomic<bool>> alive_ = std::make_shared<std::atomic<bool>>(true);
};
