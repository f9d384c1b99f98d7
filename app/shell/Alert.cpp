#include "app/shell/Alert.hpp"

#include <memory>

#include "app/shell/GuardedCallback.hpp"

namespace {

struct Pending {
    std::function<void(int)> done;
    int closedAnswer;
};

void responded(GtkDialog* dialog, int response, gpointer data) noexcept {
    std::unique_ptr<Pending> pending(static_cast<Pending*>(data));
    int answer = response >= 0 ? response : pending->closedAnswer;
    gtk_window_destroy(GTK_WINDOW(dialog));
    guarded([&] { pending->done(answer); });
}

}  // namespace

GtkWindow* Alert::show(GtkApplication* application, GtkWindow* parent, std::function<void(int)> done) const {
    GtkMessageType type = style == Style::critical ? GTK_MESSAGE_ERROR
                          : style == Style::warning ? GTK_MESSAGE_WARNING
                                                    : GTK_MESSAGE_INFO;
    GtkWidget* dialog = gtk_message_dialog_new(parent, GTK_DIALOG_MODAL, type, GTK_BUTTONS_NONE, "%s", message.c_str());
    if (!informative.empty()) {
        gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(dialog), "%s", informative.c_str());
    }
    int closedAnswer = 0;
    for (size_t i = 0; i < buttons.size(); ++i) {
        gtk_dialog_add_button(GTK_DIALOG(dialog), buttons[i].c_str(), static_cast<int>(i));
        std::string plain;
        for (char c : buttons[i]) {
            if (c != '_') plain += c;
        }
        if (plain == "Cancel") closedAnswer = static_cast<int>(i);
    }
    if (!buttons.empty()) gtk_dialog_set_default_response(GTK_DIALOG(dialog), 0);
    if (application) gtk_window_set_application(GTK_WINDOW(dialog), application);
    auto* pending = new Pending{std::move(done), closedAnswer};
    g_signal_connect(dialog, "response", G_CALLBACK(responded), pending);
    gtk_window_present(GTK_WINDOW(dialog));
    return GTK_WINDOW(dialog);
}
