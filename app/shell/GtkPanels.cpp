#include "app/shell/GtkPanels.hpp"

#include "app/shell/GuardedCallback.hpp"

namespace {

struct Pending {
    std::function<void(PanelResult)> done;
};

PanelResult chosenFiles(GtkNativeDialog* dialog, int response) {
    PanelResult result;
    result.chosen = response == GTK_RESPONSE_ACCEPT;
    if (!result.chosen) return result;
    GListModel* files = gtk_file_chooser_get_files(GTK_FILE_CHOOSER(dialog));
    for (guint i = 0, n = g_list_model_get_n_items(files); i < n; ++i) {
        auto* file = G_FILE(g_list_model_get_item(files, i));
        char* path = g_file_get_path(file);
        g_object_unref(file);
        if (!path) continue;
        std::string text = path;
        g_free(path);
        result.paths.push_back(std::move(text));
    }
    g_object_unref(files);
    return result;
}

void responded(GtkNativeDialog* dialog, int response, gpointer data) noexcept {
    std::unique_ptr<Pending> pending(static_cast<Pending*>(data));
    // Choices that could not be read answer as a cancel, so the page is never
    // left waiting for a panel that is gone.
    PanelResult result = guarded(PanelResult{}, [&] { return chosenFiles(dialog, response); });
    g_object_unref(dialog);
    guarded([&] { pending->done(std::move(result)); });
}

}  // namespace

GtkPanels::~GtkPanels() { setWindow(nullptr); }

void GtkPanels::setWindow(GtkWindow* window) {
    if (window_) g_object_remove_weak_pointer(G_OBJECT(window_), reinterpret_cast<gpointer*>(&window_));
    window_ = window;
    if (window_) g_object_add_weak_pointer(G_OBJECT(window_), reinterpret_cast<gpointer*>(&window_));
}

void GtkPanels::runPanel(const PanelOptions& options, std::function<void(PanelResult)> done) {
    GtkFileChooserAction action = options.kind == PanelOptions::Kind::save ? GTK_FILE_CHOOSER_ACTION_SAVE
                                  : options.folders && !options.files   ? GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER
                                                                        : GTK_FILE_CHOOSER_ACTION_OPEN;
    const char* accept = !options.acceptLabel.empty()                 ? options.acceptLabel.c_str()
                         : action == GTK_FILE_CHOOSER_ACTION_SAVE ? "_Save"
                                                                  : "_Open";
    // The file chooser has no message line of its own; the message is its title.
    GtkFileChooserNative* chooser =
        gtk_file_chooser_native_new(options.message.c_str(), window_, action, accept, "_Cancel");
    gtk_native_dialog_set_modal(GTK_NATIVE_DIALOG(chooser), TRUE);
    auto* fileChooser = GTK_FILE_CHOOSER(chooser);
    if (action == GTK_FILE_CHOOSER_ACTION_OPEN) gtk_file_chooser_set_select_multiple(fileChooser, options.multiple);
    if (!options.extensions.empty() && action != GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER) {
        GtkFileFilter* filter = gtk_file_filter_new();
        gtk_file_filter_set_name(filter, "Markdown documents");
        for (const auto& extension : options.extensions) gtk_file_filter_add_suffix(filter, extension.c_str());
        gtk_file_chooser_add_filter(fileChooser, filter);
        g_object_unref(filter);
    }
    if (!options.startFolder.empty()) {
        GFile* start = g_file_new_for_path(options.startFolder.c_str());
        gtk_file_chooser_set_current_folder(fileChooser, start, nullptr);
        g_object_unref(start);
    }
    if (action == GTK_FILE_CHOOSER_ACTION_SAVE && !options.suggestedName.empty()) {
        gtk_file_chooser_set_current_name(fileChooser, options.suggestedName.c_str());
    }
    g_signal_connect(chooser, "response", G_CALLBACK(responded), new Pending{std::move(done)});
    gtk_native_dialog_show(GTK_NATIVE_DIALOG(chooser));
}
