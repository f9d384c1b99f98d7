#include "app/bridge/PanelRunner.hpp"

void runPanel(Responder& responder, Queue& io, Panels& panels, const std::shared_ptr<SchemeTask>& task,
              PanelOptions options, std::function<nlohmann::json(const PanelResult&)> completion) {
    Responder* answers = &responder;
    Queue* work = &io;
    Panels* shown = &panels;
    responder.onMain([answers, work, shown, task, options = std::move(options),
                      completion = std::move(completion)]() mutable {
        // The panel ends on the main thread, perhaps after the Bridge is gone.
        shown->runPanel(options, answers->whileAlive([answers, work, task, completion = std::move(completion)](
                                                         PanelResult result) {
            work->async([answers, task, completion, result = std::move(result)] {
                answers->answering(task, [&] { answers->sendJSON(task, 200, completion(result)); });
            });
        }));
    });
}
