#pragma once
// Text copied in our window, served to other programs from memory.
//
// The web view puts copied text on the clipboard as a GTK string provider.
// Under X11, GTK 4.8 sends that string to another program through a
// character-set converter stream that it drops without closing; dropping it
// closes it synchronously on the main thread, which closes GTK's selection
// stream synchronously too. For text above the X server's request size the
// selection stream is then half-way through an incremental transfer, waiting
// for the requestor to delete a property: an X event only the main loop
// handles, and the main loop is the thread now waiting. The whole program
// hangs for good at the first large paste elsewhere.
//
// So whenever our window takes the clipboard or the primary selection with
// large text (small text goes in one piece and never hangs), its plain-text
// types are put back as ready-made bytes next to everything else the view
// offered. GTK writes bytes with one asynchronous write and closes the stream
// asynchronously, which completes incremental transfers of any size. Pasting back into our own window reads the same
// content, as before.
#include <gdk/gdk.h>

namespace CopiedText {

// Watches the display's clipboard and primary selection for the life of the
// display. Only X11 has the fault; elsewhere nothing changes.
void serveFromMemory(GdkDisplay* display);

}  // namespace CopiedText
