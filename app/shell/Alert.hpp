#pragma once
// A modal alert: a message, optional informative text and buttons in the
// order given, the first being the default. Attached to the window when there
// is one, so the window waits for it the way a sheet would.
#include <gtk/gtk.h>

#include <functional>
#include <string>
#include <vector>

struct Alert {
    enum class Style { informational, warning, critical };

    std::string message;
    std::string informative;
    // Labels as shown; "_" marks the key that chooses the button with Alt.
    std::vector<std::string> buttons;
    Style style = Style::informational;

    // Shows the alert and calls `done` once with the index of the chosen
    // button (closing the alert otherwise counts as the last button when it is
    // a "Cancel", else the first).
    GtkWindow* show(GtkApplication* application, GtkWindow* parent, std::function<void(int)> done) const;
};
