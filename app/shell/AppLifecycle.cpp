#include "app/shell/AppLifecycle.hpp"

#include <glib-unix.h>

#include <csignal>
#include <utility>

#include "app/shell/GuardedCallback.hpp"

namespace {

constexpr const char* hooksKey = "quillmarsh-lifecycle-hooks";

const AppLifecycle::Hooks& hooksOf(gpointer data) { return *static_cast<const AppLifecycle::Hooks*>(data); }

void activated(GApplication*, gpointer hooks) noexcept {
    guarded([hooks] { hooksOf(hooks).activate(); });
}

std::vector<std::string> pathsOf(GFile** files, int count) {
    std::vector<std::string> paths;
    for (int i = 0; i < count; ++i) {
        char* path = g_file_get_path(files[i]);
        char* text = path ? path : g_file_get_uri(files[i]);
        std::string kept = text;
        g_free(text);
        paths.push_back(std::move(kept));
    }
    return paths;
}

void opened(GApplication*, GFile** files, int count, const char*, gpointer hooks) noexcept {
    guarded([&] { hooksOf(hooks).open(pathsOf(files, count)); });
}

// The source stays either way, so a second signal asks again.
gboolean endRequested(gpointer hooks) noexcept {
    guarded([hooks] { hooksOf(hooks).quitRequested(); });
    return G_SOURCE_CONTINUE;
}

void deleteHooks(gpointer hooks) noexcept {
    guarded([hooks] { delete static_cast<AppLifecycle::Hooks*>(hooks); });
}

}  // namespace

namespace AppLifecycle {

void connect(GtkApplication* application, Hooks hooks) {
    auto* held = new Hooks(std::move(hooks));
    g_object_set_data_full(G_OBJECT(application), hooksKey, held, deleteHooks);
    g_signal_connect(application, "activate", G_CALLBACK(activated), held);
    g_signal_connect(application, "open", G_CALLBACK(opened), held);
    for (int number : {SIGTERM, SIGINT, SIGHUP}) g_unix_signal_add(number, endRequested, held);
}

}  // namespace AppLifecycle
