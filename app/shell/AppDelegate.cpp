#include "app/shell/AppDelegate.hpp"

#include <glib-unix.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/shell/Alert.hpp"
#include "app/shell/GtkSchemeTask.hpp"
#include "app/shell/NavigationPolicy.hpp"
#include "app/shell/NoNetworkRules.hpp"
#include "app/shell/PageMessage.hpp"
#include "app/shell/PageScripts.hpp"
#include "app/shell/ProgramFolders.hpp"
#include "app/shell/WindowFrame.hpp"
#include "app/shell/WindowPlacement.hpp"
#include "core/FileWrite.hpp"
#include "core/LogFile.hpp"
#include "core/SupportFolder.hpp"

namespace {

constexpr const char* startAddress = "lornwick://app/";

struct ScriptCall {
    std::weak_ptr<AppDelegate> delegate;
    std::function<void(std::optional<std::string>, bool)> done;
};

}  // namespace

AppDelegate::AppDelegate(GtkApplication* application, bool allowAutomation)
    : application_(application), allowAutomation_(allowAutomation) {}

void AppDelegate::attach() {
    auto self = this;
    g_signal_connect(application_, "activate", G_CALLBACK(+[](GApplication*, gpointer data) {
                         static_cast<AppDelegate*>(data)->launch();
                     }),
                     self);
    g_signal_connect(application_, "open", G_CALLBACK(+[](GApplication*, GFile** files, int count, const char*,
                                                          gpointer data) {
                         std::vector<std::string> paths;
                         for (int i = 0; i < count; ++i) {
                             // A file that is not on a local disk keeps its address, so the
                             // Bridge can count it among the documents it leaves out.
                             char* path = g_file_get_path(files[i]);
                             char* text = path ? path : g_file_get_uri(files[i]);
                             paths.emplace_back(text);
                             g_free(text);
                         }
                         static_cast<AppDelegate*>(data)->openDocuments(std::move(paths));
                     }),
                     self);
    // A request to end the process from outside is a request to quit like any other.
    for (int number : {SIGTERM, SIGINT, SIGHUP}) {
        g_unix_signal_add(number, +[](gpointer data) -> gboolean {
            static_cast<AppDelegate*>(data)->requestTermination();
            return G_SOURCE_CONTINUE;
        }, self);
    }
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

    bridge_ = std::make_unique<Bridge>(*editor, Platform{main_, panels_, workspace_, bookmarks_},
                                       SupportFolder::userDataHome());
    bridge_->onQuit = weakly(&AppDelegate::pageClosedTabs);
    bridge_->onFolderChanged = weakly(&AppDelegate::folderChanged);
    bridge_->onOpenRequested = weakly(&AppDelegate::openRequested);
    bridge_->keepInterruptedSaves();

    if (!earlyOpen_.empty()) {
        bridge_->handOverFromFinder(std::move(earlyOpen_));
        earlyOpen_.clear();
    }

    WebKitWebContext* context = makeWebContext();
    makeWebView(context);
    menus_ = std::make_unique<GtkMenus>(application_, [this](MenuAction action, const std::string& id) {
        menuChosen(action, id);
    });
    makeWindow();
    panels_.setWindow(window_);

    installMenus(nlohmann::json::array(), false);

    compileRules();
}

WebKitWebContext* AppDelegate::makeWebContext() {
    WebKitWebContext* context = webkit_web_context_get_default();
    webkit_web_context_set_web_process_extensions_directory(
        context, ProgramFolders::webExtensions(ProgramFolders::executableFolder()).c_str());
    webkit_web_context_register_uri_scheme(
        context, "lornwick",
        +[](WebKitURISchemeRequest* request, gpointer data) {
            static_cast<Bridge*>(data)->start(std::make_shared<GtkSchemeTask>(request));
        },
        bridge_.get(), nullptr);
    // Only a test build lets a WebDriver session in; the program users run never does.
    if (allowAutomation_) webkit_web_context_set_automation_allowed(context, TRUE);
    return context;
}

void AppDelegate::makeWebView(WebKitWebContext* context) {
    WebKitUserContentManager* content = webkit_user_content_manager_new();
    WebKitSettings* settings = webkit_settings_new();
    webkit_settings_set_javascript_can_open_windows_automatically(settings, TRUE);
    // Nothing the page stores or caches survives the process.
    WebKitNetworkSession* session = webkit_network_session_new_ephemeral();
    web_ = std::make_unique<AppWebView>(context, session, content, settings, allowAutomation_);
    g_object_unref(session);
    g_object_unref(settings);
    g_object_unref(content);

    WebKitWebView* view = web_->view();
    if (allowAutomation_) {
        // The session drives the one view there is; it never gets a second one.
        g_signal_connect(context, "automation-started",
                         G_CALLBACK(+[](WebKitWebContext*, WebKitAutomationSession* session, gpointer view) {
                             WebKitApplicationInfo* info = webkit_application_info_new();
                             webkit_application_info_set_name(info, appName().c_str());
                             webkit_automation_session_set_application_info(session, info);
                             webkit_application_info_unref(info);
                             g_signal_connect(session, "create-web-view",
                                              G_CALLBACK(+[](WebKitAutomationSession*, gpointer v) {
                                                  return static_cast<WebKitWebView*>(v);
                                              }),
                                              view);
                         }),
                         view);
    }
    g_signal_connect(view, "user-message-received",
                     G_CALLBACK(+[](WebKitWebView*, WebKitUserMessage* message, gpointer data) -> gboolean {
                         static_cast<AppDelegate*>(data)->pageMessage(message);
                         return TRUE;
                     }),
                     this);
    g_signal_connect(view, "decide-policy",
                     G_CALLBACK(+[](WebKitWebView*, WebKitPolicyDecision* decision, WebKitPolicyDecisionType type,
                                    gpointer data) -> gboolean {
                         return static_cast<AppDelegate*>(data)->decidePolicy(decision, type);
                     }),
                     this);
    g_signal_connect(view, "create",
                     G_CALLBACK(+[](WebKitWebView*, WebKitNavigationAction* action, gpointer data) -> GtkWidget* {
                         static_cast<AppDelegate*>(data)->newWindowRequested(action);
                         return nullptr;
                     }),
                     this);
    g_signal_connect(view, "script-dialog",
                     G_CALLBACK(+[](WebKitWebView*, WebKitScriptDialog* dialog, gpointer data) -> gboolean {
                         return static_cast<AppDelegate*>(data)->scriptDialog(dialog);
                     }),
                     this);
}

void AppDelegate::makeWindow() {
    window_ = GTK_WINDOW(gtk_application_window_new(application_));
    gtk_window_set_title(window_, appName().c_str());
    auto frame = WindowFrame::load(WindowFrame::defaultPath()).value_or(WindowFrame{});
    gtk_window_set_default_size(window_, frame.width, frame.height);
    gtk_widget_set_size_request(GTK_WIDGET(window_), WindowFrame::minWidth, WindowFrame::minHeight);
    // No title bar of the desktop's: the page draws its own strip below, and
    // the window keeps its resize edges. The one row above the page is the
    // menu bar, which on this desktop lives inside the window, with the
    // window's own buttons at its end so the window can still be closed,
    // minimised and maximised with the mouse.
    gtk_application_window_set_show_menubar(GTK_APPLICATION_WINDOW(window_), FALSE);
    GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
    GtkWidget* menuBar = gtk_popover_menu_bar_new_from_model(menus_->model());
    gtk_widget_set_hexpand(menuBar, TRUE);
    gtk_box_append(GTK_BOX(row), menuBar);
    gtk_box_append(GTK_BOX(row), gtk_window_controls_new(GTK_PACK_END));
    GtkWidget* handle = gtk_window_handle_new();
    gtk_window_handle_set_child(GTK_WINDOW_HANDLE(handle), row);
    gtk_window_set_titlebar(window_, handle);
    // The row is one bar: the menu bar draws no edge of its own inside it.
    GtkCssProvider* style = gtk_css_provider_new();
    gtk_css_provider_load_from_data(style, "windowhandle.titlebar menubar { box-shadow: none; background: none; }", -1);
    gtk_style_context_add_provider_for_display(gtk_widget_get_display(GTK_WIDGET(window_)), GTK_STYLE_PROVIDER(style),
                                               GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    g_object_unref(style);
    gtk_window_set_child(window_, web_->widget());

    g_signal_connect(window_, "close-request", G_CALLBACK(+[](GtkWindow*, gpointer data) -> gboolean {
                         // The close button asks like Quit does; the window itself never closes.
                         static_cast<AppDelegate*>(data)->requestTermination();
                         return TRUE;
                     }),
                     this);
    g_signal_connect(window_, "notify::is-active", G_CALLBACK(+[](GObject* window, gpointer, gpointer data) {
                         if (gtk_window_is_active(GTK_WINDOW(window))) static_cast<AppDelegate*>(data)->becameActive();
                     }),
                     this);
    auto placeOnMap = +[](GtkWidget* window, gpointer) {
        auto frame = WindowFrame::load(WindowFrame::defaultPath());
        std::optional<std::pair<int, int>> at;
        if (frame && frame->x && frame->y) at = std::make_pair(*frame->x, *frame->y);
        WindowPlacement::place(GTK_WINDOW(window), at);
    };
    g_signal_connect(window_, "map", G_CALLBACK(placeOnMap),
                     nullptr);
}

void AppDelegate::compileRules() {
    std::string folder = ProgramFolders::cache();
    if (!folder.empty()) folder += "/content-rules";
    // A folder that cannot be made fails the compilation below, which is the
    // failure the user is told about.
    if (!folder.empty()) FileWrite::makeFolders(folder, 0700);
    ruleStore_ = webkit_user_content_filter_store_new(folder.c_str());
    GBytes* rules = g_bytes_new_static(NoNetworkRules::text, std::strlen(NoNetworkRules::text));
    auto* self = new std::weak_ptr<AppDelegate>(weak_from_this());
    webkit_user_content_filter_store_save(
        ruleStore_, NoNetworkRules::identifier, rules, nullptr,
        +[](GObject* store, GAsyncResult* result, gpointer data) {
            std::unique_ptr<std::weak_ptr<AppDelegate>> weak(static_cast<std::weak_ptr<AppDelegate>*>(data));
            GError* error = nullptr;
            WebKitUserContentFilter* filter =
                webkit_user_content_filter_store_save_finish(WEBKIT_USER_CONTENT_FILTER_STORE(store), result, &error);
            if (auto delegate = weak->lock()) delegate->rulesCompiled(filter, error);
            if (filter) webkit_user_content_filter_unref(filter);
            g_clear_error(&error);
        },
        self);
    g_bytes_unref(rules);
}

void AppDelegate::rulesCompiled(WebKitUserContentFilter* filter, GError* error) {
    if (!filter) return startFailed(error ? error->code : 0);
    WebKitUserContentManager* content = webkit_web_view_get_user_content_manager(web_->view());
    webkit_user_content_manager_add_filter(content, filter);
    webkit_web_view_load_uri(web_->view(), startAddress);
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

void AppDelegate::openDocuments(std::vector<std::string> paths) {
    if (bridge_) {
        bridge_->handOverFromFinder(std::move(paths));
    } else {
        earlyOpen_.insert(earlyOpen_.end(), paths.begin(), paths.end());
    }
    // The documents are the reason the program was opened: launch it if this
    // is the first thing the desktop asked, and bring the window forward.
    launch();
}

// --- the page -----------------------------------------------------------------

void AppDelegate::pageMessage(WebKitUserMessage* message) {
    const char* name = webkit_user_message_get_name(message);
    GVariant* parameters = webkit_user_message_get_parameters(message);
    MessageSource source;
    nlohmann::json body;
    if (parameters && g_variant_is_of_type(parameters, G_VARIANT_TYPE("(sbs)"))) {
        const char* json = nullptr;
        const char* uri = nullptr;
        gboolean mainFrame = FALSE;
        g_variant_get(parameters, "(&sb&s)", &json, &mainFrame, &uri);
        source.mainFrame = mainFrame;
        source.frameURI = uri;
        body = nlohmann::json::parse(json, nullptr, false);
    }
    PageMessage checked = PageMessage::check(name ? name : "", source, body);
    switch (checked.kind) {
        case PageMessage::Kind::menus: installMenus(checked.menus, true); return;
        case PageMessage::Kind::header: web_->header = checked.header; return;
        case PageMessage::Kind::open: openExternally(checked.url); return;
        case PageMessage::Kind::refused: appLog().add("message: refused"); return;
    }
}

void AppDelegate::openExternally(const std::string& url) {
    appLog().add("link: opening in the browser");
    workspace_.openURL(url);
}

bool AppDelegate::decidePolicy(WebKitPolicyDecision* decision, WebKitPolicyDecisionType type) {
    if (type != WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION && type != WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION) {
        return false;  // responses go ahead as WebKit decides
    }
    WebKitNavigationAction* action =
        webkit_navigation_policy_decision_get_navigation_action(WEBKIT_NAVIGATION_POLICY_DECISION(decision));
    NavigationRequest request;
    WebKitURIRequest* uriRequest = webkit_navigation_action_get_request(action);
    const char* uri = uriRequest ? webkit_uri_request_get_uri(uriRequest) : nullptr;
    if (uri && *uri) request.url = uri;
    request.linkClicked = webkit_navigation_action_get_navigation_type(action) == WEBKIT_NAVIGATION_TYPE_LINK_CLICKED;
    request.hasTargetFrame = type != WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION;
    NavigationDecision decided = NavigationPolicy::decide(request);
    if (decided.openExternally) openExternally(*request.url);
    if (decided.allow) webkit_policy_decision_use(decision);
    else webkit_policy_decision_ignore(decision);
    return true;
}

void AppDelegate::newWindowRequested(WebKitNavigationAction* action) {
    WebKitURIRequest* request = webkit_navigation_action_get_request(action);
    const char* uri = request ? webkit_uri_request_get_uri(request) : nullptr;
    std::optional<std::string> url;
    if (uri && *uri) url = uri;
    if (NavigationPolicy::opensNewWindowExternally(url)) openExternally(*url);
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
    webkit_web_view_evaluate_javascript(
        web_->view(), script, -1, nullptr, nullptr, nullptr,
        +[](GObject* view, GAsyncResult* result, gpointer data) {
            std::unique_ptr<ScriptCall> call(static_cast<ScriptCall*>(data));
            GError* error = nullptr;
            JSCValue* value = webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(view), result, &error);
            std::optional<std::string> text;
            if (value && jsc_value_is_string(value)) {
                char* string = jsc_value_to_string(value);
                text = string;
                g_free(string);
            }
            bool failed = error != nullptr;
            g_clear_error(&error);
            if (value) g_object_unref(value);
            if (call->done && !call->delegate.expired()) call->done(std::move(text), failed);
        },
        call);
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
    GtkWidget* about = gtk_about_dialog_new();
    gtk_about_dialog_set_program_name(GTK_ABOUT_DIALOG(about), appName().c_str());
    if (bridge_) {
        auto version = bridge_->info.find("version");
        if (version != bridge_->info.end() && version->is_string()) {
            gtk_about_dialog_set_version(GTK_ABOUT_DIALOG(about), version->get<std::string>().c_str());
        }
    }
    gtk_window_set_transient_for(GTK_WINDOW(about), sheetParent());
    gtk_window_set_modal(GTK_WINDOW(about), TRUE);
    gtk_window_set_hide_on_close(GTK_WINDOW(about), FALSE);
    gtk_window_present(GTK_WINDOW(about));
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
    if (shown_ && window_) {
        // Remembered as the desktop keeps a named window's frame: the size it
        // has when not maximised, and where it stands.
        WindowFrame frame;
        gtk_window_get_default_size(window_, &frame.width, &frame.height);
        auto saved = WindowFrame::load(WindowFrame::defaultPath());
        if (!gtk_window_is_maximized(window_)) {
            if (auto at = WindowPlacement::position(window_)) {
                frame.x = at->first;
                frame.y = at->second;
            }
        } else if (saved) {
            frame.x = saved->x;
            frame.y = saved->y;
        }
        if (frame.width > 0 && frame.height > 0) frame.save(WindowFrame::defaultPath());
    }
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
