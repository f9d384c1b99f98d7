#pragma once
// Open and save panels as the desktop's file choosers, modal to the window
// while it exists (a sheet in spirit: the window waits for the answer).
#include <gtk/gtk.h>

#include "app/bridge/Platform.hpp"

class GtkPanels final : public Panels {
public:
    ~GtkPanels() override;
    // The window panels attach to; kept weakly, panels run on their own without it.
    void setWindow(GtkWindow* window);
    void runPanel(const PanelOptions& options, std::function<void(PanelResult)> done) override;

private:
    GtkWindow* window_ = nullptr;
};
