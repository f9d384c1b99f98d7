#include "app/shell/AppDelegate.hpp"

#include <cstdio>
#include <cstdlib>

#include "app/shell/Alert.hpp"
#include "app/shell/AppLifecycle.hpp"
#include "app/shell/CopiedText.hpp"
#include "app/shell/GuardedCallback.hpp"
#include "app/shell/PageScripts.hpp"
#include "app/shell/ProgramFolders.hpp"
#include "app/shell/TestUpdateFeed.hpp"
#include "app/shell/WebViewSetup.hpp"
#include "app/shell/WindowChrome.hpp"
#include "core/LogFile.hpp"
#include "core/SupportFolder.hpp"

namespace {

struct ScriptCall {
    std::weak_ptr<AppDelegate> delegate;
    std::function<void(std::optional<std::string>, bool)> done;
};

// An answer that fails on the way is one the caller never gets, as when the
// delegate is gone: a quit asked again asks the page again.
void scriptFinished(GObject* view, GAsyncResult* result, gpointer data) noexcept {
    std::unique_ptr<ScriptCall> call(static_cast<ScriptCall*>(data));
    GError* error = nullptr;
    JSCValue* value = webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(view), result, &error);
    bool failed = error != nullptr;
    g_clear_error(&error);
    guarded([&] {
        std::optional<std::string> text;
        if (value && jsc_value_is_string(value)) {
            char* string = jsc_value_to_string(value);
            std::string copied = string;
            g_free(string);
            text = std::move(copied);
        }
        if (call->done && !call->delegate.expired()) call->done(std::move(text), failed);
    });
    if (value) g_object_unref(value);
}

}  // namespace

AppDelegate::AppDelegate(GtkApplication* application, bool allowAutomation)
    : application_(application), allowAutomation_(allowAutomation) {}

void AppDelegate::attach() {
    // The delegate lives as long as the process, so the hooks hold it plainly.
    AppLifecycle::connect(application_, {
        .activate = [this] { launch(); },
        .open = [this](std::vector<std::string> paths) { openDocuments(std::move(paths)); },
        .quitRequested = [this] { requestTermination(); },
    });
}

// --- launch -------------------------------------------------------------------

void AppDelegate::launch() {
    if (launched_) {
        if (shown_) gtk_window_present(window_);
        return;
    }
    launched_ = true;

    appLog().prepare();

    auto editor = ProgramFolders::editor(ProgramFolders::executableFolder());
    if (!editor) {
        std::fputs("editor files missing from the app\n", stderr);
        std::abort();
    }

    bridge_ = std::make_unique<Bridge>(*editor, Platform{main_, panels_, workspace_, bookmarks_, network_},
                                       SupportFolder::userDataHome());
    bridge_->onQuit = weakly(&AppDelegate::pageClosedTabs);
    bridge_->onFolderChanged = weakly(&AppDelegate::folderChanged);
    bridge_->onOpenRequested = weakly(&AppDelegate::openRequested);
    bridge_->updateOptions =
        TestUpdateFeed::apply(bridge_->updateOptions, allowAutomation_, TestUpdateFeed::fromEnvironment);
    bridge_->tidyAtLaunch();

    if (!earlyOpen_.empty()) {
        bridge_->handOverFromFinder(std::move(earlyOpen_));
        earlyOpen_.clear();
    }

    makeWebView();
    menus_ = std::make_unique<GtkMenus>(application_, [this](MenuAction action, const std::string& id) {
        menuChosen(action, id);
    });
    makeWindow();
    panels_.setWindow(window_);
    CopiedText::serveFromMemory(gtk_widget_get_display(web_->widget()));

    installMenus(nlohmann::json::array(), false);

    WebViewSetup::compileRules([weak = weak_from_this()](WebKitUserContentFilter* rules, int errorCode) {
        if (auto self = weak.lock()) self->rulesCompiled(rules, errorCode);
    });
}

void AppDelegate::makeWebView() {
    WebKitWebContext* context = WebViewSetup::makeContext(*bridge_, allowAutomation_);
    web_ = WebViewSetup::makeView(context, allowAutomation_);
    WebViewSetup::connectPage(*web_, {
        .message = [this](const PageMessage& message) { pageMessage(message); },
        .openExternally = [this](const std::string& url) { openExternally(url); },
        .scriptDialog = [this](WebKitScriptDialog* dialog) { return scriptDialog(dialog); },
    });
}

void AppDelegate::makeWindow() {
    window_ = WindowChrome::make(application_, menus_->model(), web_->widget(), {
        .closeRequested = [this] { requestTermination(); },
        .becameActive = [this] { becameActive(); },
    });
}

void AppDelegate::rulesCompiled(WebKitUserContentFilter* rules, int errorCode) {
    if (!rules) return startFailed(errorCode);
    WebViewSetup::loadPage(*web_, rules);
    shown_ = true;
    gtk_window_present(window_);
}

void AppDelegate::startFailed(int code) {
    appLog().add("rules: no-network guard failed (code " + std::to_string(code) + "); editor not loaded");
    Alert alert;
    alert.style = Alert::Style::critical;
    alert.message = appName() + " could not start";
    alert.informative = "Its guard that keeps documents off the network did not load, so the editor was not "
                        "opened. Nothing was changed. Quit and open " +
                        appName() + " again; if this keeps happening, tell the developer.";
    alert.buttons = {"Quit"};
    alert.show(application_, nullptr, [weak = weak_from_this()](int) {
        if (auto self = weak.lock()) {
            self->quit_.approve();
            self->requestTermination();
        }
    });
}

// --- documents handed to the program ------------------------------------------

// Documents given on the command line or by the desktop's file manager, which
// GApplication's open signal delivers (to the instance already running, if
// there is one). That signal is the only way documents reach the program.
void AppDelegate::openDocuments(std::vector<std::string> paths) {
    if (bridge_) {
        bridge_->handOverFromFinder(std::move(paths));
    } else {
        // Opened before the launch: the Bridge takes them as soon as it exists.
        earlyOpen_.insert(earlyOpen_.end(), paths.begin(), paths.end());
    }
    // The documents are the reason the program was opened: launch it if this
    // is the first thing the desktop asked, and bring the window forward.
    launch();
}

// --- the page -----------------------------------------------------------------

void AppDelegate::pageMessage(const PageMessage& message) {
    switch (message.kind) {
        case PageMessage::Kind::menus: installMenus(message.menus, true); return;
        case PageMessage::Kind::header: web_->header = message.header; return;
        case PageMessage::Kind::open: openExternally(message.url); return;
        case PageMessage::Kind::refused: appLog().add("message: refused"); return;
    }
}

void AppDelegate::openExternally(const std::string& url) {
    appLog().add("link: opening in the browser");
    workspace_.openURL(url);
}

bool AppDelegate::scriptDialog(WebKitScriptDialog* dialog) {
    WebKitScriptDialogType type = webkit_script_dialog_get_dialog_type(dialog);
    if (type == WEBKIT_SCRIPT_DIALOG_PROMPT) {
        // The page gets no text prompt: it answers as if dismissed.
        return TRUE;
    }
    if (type == WEBKIT_SCRIPT_DIALOG_BEFORE_UNLOAD_CONFIRM) {
        // Leaving the page is the quit protocol's business, not a second question.
        webkit_script_dialog_confirm_set_confirmed(dialog, TRUE);
        return TRUE;
    }
    Alert alert;
    alert.message = webkit_script_dialog_get_message(dialog);
    bool confirm = type == WEBKIT_SCRIPT_DIALOG_CONFIRM;
    alert.buttons = confirm ? std::vector<std::string>{"_OK", "_Cancel"} : std::vector<std::string>{"_OK"};
    webkit_script_dialog_ref(dialog);
    alert.show(application_, sheetParent(), [dialog, confirm](int chosen) {
        if (confirm) webkit_script_dialog_confirm_set_confirmed(dialog, chosen == 0);
        webkit_script_dialog_close(dialog);
        webkit_script_dialog_unref(dialog);
    });
    return TRUE;
}

void AppDelegate::runScript(const char* script, ScriptResult done) {
    if (!web_) return;
    auto* call = new ScriptCall{weak_from_this(), std::move(done)};
    webkit_web_view_evaluate_javascript(web_->view(), script, -1, nullptr, nullptr, nullptr, scriptFinished, call);
}

// --- menus --------------------------------------------------------------------

void AppDelegate::installMenus(const nlohmann::json& descriptions, bool withTarget) {
    menus_->install(MenuBar::buildMainMenu(descriptions, appName(), withTarget));
}

void AppDelegate::menuChosen(MenuAction action, const std::string& pageId) {
    WebKitWebView* view = web_ ? web_->view() : nullptr;
    switch (action) {
        case MenuAction::runPageMenu:
            if (auto script = PageScripts::menuRun(pageId)) runScript(script->c_str());
            return;
        case MenuAction::showPageAbout: return runScript(PageScripts::about);
        case MenuAction::checkForUpdates: return runScript(PageScripts::checkUpdates);
        case MenuAction::showPageSettings: return runScript(PageScripts::settings);
        case MenuAction::standardAbout: return showStandardAbout();
        case MenuAction::hide:
            if (window_) gtk_window_minimize(window_);
            return;
        case MenuAction::quit: return requestTermination();
        // The web view does the editing: the page's text fields and its own
        // editor receive these exactly as if the key had reached them.
        case MenuAction::cut:
            if (view) webkit_web_view_execute_editing_command(view, WEBKIT_EDITING_COMMAND_CUT);
            return;
        case MenuAction::copy:
            if (view) webkit_web_view_execute_editing_command(view, WEBKIT_EDITING_COMMAND_COPY);
            return;
        case MenuAction::paste:
            if (view) webkit_web_view_execute_editing_command(view, WEBKIT_EDITING_COMMAND_PASTE);
            return;
        case MenuAction::selectAll:
            if (view) webkit_web_view_execute_editing_command(view, WEBKIT_EDITING_COMMAND_SELECT_ALL);
            return;
        case MenuAction::none: return;
    }
}

void AppDelegate::showStandardAbout() {
    std::optional<std::string> version;
    if (bridge_) {
        auto found = bridge_->info.find("version");
        if (found != bridge_->info.end() && found->is_string()) version = found->get<std::string>();
    }
    WindowChrome::showStandardAbout(sheetParent(), version);
}

// --- quit and lifecycle -------------------------------------------------------

void AppDelegate::requestTermination() {
    if (quit_.shouldTerminate() == QuitProtocol::Decision::terminateNow) return terminate();
    if (!web_) {
        // Nothing was launched yet, so there is no page that could hold edits.
        quit_.approve();
        return requestTermination();
    }
    runScript(PageScripts::quitQuery, [this](std::optional<std::string> answer, bool failed) {
        quitQueryAnswered(std::move(answer), failed);
    });
}

void AppDelegate::quitQueryAnswered(std::optional<std::string> answer, bool failed) {
    bool hasPage = webkit_web_view_get_uri(web_->view()) != nullptr;
    switch (quit_.pageAnswered(answer, failed, hasPage)) {
        case QuitProtocol::Next::waitForPage: return;
        case QuitProtocol::Next::terminate: return requestTermination();
        case QuitProtocol::Next::fallbackAlert: return showFallbackAlert();
    }
}

void AppDelegate::showFallbackAlert() {
    if (fallbackAlert_) {
        // One question to the user at a time; a repeated quit brings it forward.
        gtk_window_present(fallbackAlert_);
        return;
    }
    Alert alert;
    alert.style = Alert::Style::warning;
    alert.message = appName() + " could not check for unsaved changes";
    alert.informative = "Quitting now may lose edits that are not saved yet.";
    alert.buttons = {"_Cancel", "_Quit Anyway"};
    fallbackAlert_ = alert.show(application_, sheetParent(), [weak = weak_from_this()](int chosen) {
        auto self = weak.lock();
        if (!self) return;
        self->fallbackAlert_ = nullptr;
        if (self->quit_.fallbackDismissed(chosen == 1)) self->requestTermination();
    });
}

void AppDelegate::terminate() {
    if (shown_ && window_) WindowChrome::rememberFrame(window_);
    g_application_quit(G_APPLICATION(application_));
}

void AppDelegate::becameActive() {
    if (web_) runScript(PageScripts::folderChanged);
}

GtkWindow* AppDelegate::sheetParent() const { return shown_ ? window_ : nullptr; }

std::function<void()> AppDelegate::weakly(void (AppDelegate::*call)()) {
    return [weak = weak_from_this(), call] {
        if (auto self = weak.lock()) (self.get()->*call)();
    };
}

void AppDelegate::pageClosedTabs() {
    quit_.pageClosedTabs();
    requestTermination();
}

void AppDelegate::folderChanged() {
    if (web_) runScript(PageScripts::folderChanged);
}

void AppDelegate::openRequested() {
    if (web_) runScript(PageScripts::openRequested);
}
