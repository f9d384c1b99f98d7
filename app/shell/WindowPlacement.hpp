#pragma once
// Reading and setting the window's place on the screen. GTK 4 leaves window
// positions to the desktop, but an X11 desktop still honours a client that
// moves its own window, so the remembered frame can be put back there; under
// Wayland only the size comes back.
#include <gtk/gtk.h>

#include <optional>
#include <utility>

namespace WindowPlacement {

// The window's top-left corner on the screen, when the desktop tells.
std::optional<std::pair<int, int>> position(GtkWindow* window);

// Moves the (mapped) window; does nothing where the desktop does not allow it.
void move(GtkWindow* window, int x, int y);

// Puts the window at (x, y) when that keeps it on a monitor, else centres it
// on the monitor it is on.
void place(GtkWindow* window, std::optional<std::pair<int, int>> wanted);

}  // namespace WindowPlacement
