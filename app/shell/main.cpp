// quillmarsh: the desktop program. One application, one window, one web view
// with the editor page. It reads no options and no environment beyond the
// desktop's own; documents given on the command line or by the desktop's file
// manager arrive through GApplication's open signal and are handed to the page.
#include <gtk/gtk.h>

#include <cstdio>
#include <memory>
#include <unistd.h>

#include "app/shell/AppDelegate.hpp"

#ifndef QUILLMARSH_AUTOMATION
#define QUILLMARSH_AUTOMATION 0
#endif

int main(int argc, char** argv) {
    GApplicationFlags flags = G_APPLICATION_HANDLES_OPEN;
    // A test build runs beside the user's own program without handing its
    // documents over to it.
    if (QUILLMARSH_AUTOMATION) flags = static_cast<GApplicationFlags>(flags | G_APPLICATION_NON_UNIQUE);
    GtkApplication* application = gtk_application_new("org.quillmarsh.Quillmarsh", flags);
    // The delegate owns the window, the web view and the Bridge for the life
    // of the process, and is never torn down before it ends.
    auto delegate = std::make_shared<AppDelegate>(application, QUILLMARSH_AUTOMATION != 0);
    delegate->attach();
    int status = g_application_run(G_APPLICATION(application), argc, argv);
    // Ending here skips tearing down the Bridge's queues, which may still hold
    // work for a page that is gone; every file it writes is already flushed.
    std::fflush(nullptr);
    _exit(status);
}
