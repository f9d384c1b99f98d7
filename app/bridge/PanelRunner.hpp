#pragma once
// The one way a request shows an open or save panel: the panel runs on the
// main thread and its answer is made on io, where the state it changes lives.
#include <functional>
#include <memory>

#include <nlohmann/json.hpp>

#include "app/bridge/Platform.hpp"
#include "app/bridge/Responder.hpp"
#include "core/Dispatch.hpp"

// Shows the panel on the main thread; on io, answers the task with 200 and
// the JSON `completion` makes of what the user chose (what it throws is
// answered as an error). Nothing runs once the Bridge is gone.
void runPanel(Responder& responder, Queue& io, Panels& panels, const std::shared_ptr<SchemeTask>& task,
              PanelOptions options, std::function<nlohmann::json(const PanelResult&)> completion);
