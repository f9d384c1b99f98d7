#pragma once
// How the desktop starts, feeds and ends the program, in GApplication's
// terms: "activate" (the first launch, or a later one that should bring the
// window forward), "open" (documents given on the command line or by the
// desktop's file manager, which GApplication hands to the running instance),
// and the POSIX signals that ask a process to end, which become a request to
// quit like any other so the page can still save. Kept apart from the owner
// so the C signatures and the file-to-path conversion live in one place.
#include <gtk/gtk.h>

#include <functional>
#include <string>
#include <vector>

namespace AppLifecycle {

// What the application's signals turn into; all run on the main thread.
struct Hooks {
    std::function<void()> activate;
    // Local files by path; a file that is not on a local disk keeps its
    // address, so the Bridge can count it among the documents it leaves out.
    std::function<void(std::vector<std::string> paths)> open;
    // SIGTERM, SIGINT or SIGHUP arrived.
    std::function<void()> quitRequested;
};

// Connects the hooks for the life of the application; call once, before running it.
void connect(GtkApplication* application, Hooks hooks);

}  // namespace AppLifecycle
