#include "app/shell/GioWorkspace.hpp"

#include <gio/gio.h>

#include "app/shell/GuardedCallback.hpp"

namespace {

void launched(GObject*, GAsyncResult* result, gpointer) noexcept {
    // A missing handler is the desktop's business; the page was already told
    // nothing more than that the link went out.
    guarded([result] { g_app_info_launch_default_for_uri_finish(result, nullptr); });
}

void launch(const char* uri) { g_app_info_launch_default_for_uri_async(uri, nullptr, nullptr, launched, nullptr); }

}  // namespace

void GioWorkspace::openURL(const std::string& url) { launch(url.c_str()); }

void GioWorkspace::openFolder(const std::string& path) {
    GFile* folder = g_file_new_for_path(path.c_str());
    char* uri = g_file_get_uri(folder);
    launch(uri);
    g_free(uri);
    g_object_unref(folder);
}
