#include "app/shell/WebViewSetup.hpp"

#include <cstring>
#include <optional>
#include <string>
#include <utility>

#include "app/bridge/SchemeNames.hpp"
#include "app/shell/GtkSchemeTask.hpp"
#include "app/shell/GuardedCallback.hpp"
#include "app/shell/NavigationPolicy.hpp"
#include "app/shell/NoNetworkRules.hpp"
#include "app/shell/ProgramFolders.hpp"
#include "core/FileWrite.hpp"

namespace {

using WebViewSetup::PageHooks;
using WebViewSetup::RulesDone;

constexpr const char* pageHooksKey = "quillmarsh-page-hooks";

// A request the Bridge could not take stays unanswered; the page's fetch
// times out as it would for any lost request.
void schemeRequested(WebKitURISchemeRequest* request, gpointer bridge) noexcept {
    guarded([&] { static_cast<Bridge*>(bridge)->start(std::make_shared<GtkSchemeTask>(request)); });
}

WebKitWebView* createWebViewForSession(WebKitAutomationSession*, gpointer view) noexcept {
    return guarded<WebKitWebView*>(nullptr, [view] { return static_cast<WebKitWebView*>(view); });
}

void automationStarted(WebKitWebContext*, WebKitAutomationSession* session, gpointer view) noexcept {
    guarded([&] {
        WebKitApplicationInfo* info = webkit_application_info_new();
        webkit_application_info_set_name(info, appName().c_str());
        webkit_automation_session_set_application_info(session, info);
        webkit_application_info_unref(info);
        g_signal_connect(session, "create-web-view", G_CALLBACK(createWebViewForSession), view);
    });
}

std::optional<std::string> requestedURL(WebKitNavigationAction* action) {
    WebKitURIRequest* request = webkit_navigation_action_get_request(action);
    const char* uri = request ? webkit_uri_request_get_uri(request) : nullptr;
    if (uri && *uri) return std::string(uri);
    return std::nullopt;
}

PageMessage readMessage(WebKitUserMessage* message) {
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
    return PageMessage::check(name ? name : "", source, body);
}

// False when WebKit should decide on its own (responses go ahead as it decides).
bool decidePolicy(const PageHooks& hooks, WebKitPolicyDecision* decision, WebKitPolicyDecisionType type) {
    if (type != WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION && type != WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION) {
        return false;
    }
    WebKitNavigationAction* action =
        webkit_navigation_policy_decision_get_navigation_action(WEBKIT_NAVIGATION_POLICY_DECISION(decision));
    NavigationRequest request;
    request.url = requestedURL(action);
    request.linkClicked = webkit_navigation_action_get_navigation_type(action) == WEBKIT_NAVIGATION_TYPE_LINK_CLICKED;
    request.hasTargetFrame = type != WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION;
    NavigationDecision decided = NavigationPolicy::decide(request);
    if (decided.openExternally) hooks.openExternally(*request.url);
    if (decided.allow) webkit_policy_decision_use(decision);
    else webkit_policy_decision_ignore(decision);
    return true;
}

const PageHooks& hooksOf(gpointer data) { return *static_cast<const PageHooks*>(data); }

gboolean messageReceived(WebKitWebView*, WebKitUserMessage* message, gpointer hooks) noexcept {
    guarded([&] { hooksOf(hooks).message(readMessage(message)); });
    return TRUE;
}

gboolean policyDecided(WebKitWebView*, WebKitPolicyDecision* decision, WebKitPolicyDecisionType type,
                       gpointer hooks) noexcept {
    gboolean handled = FALSE;
    if (guarded([&] { handled = decidePolicy(hooksOf(hooks), decision, type); })) return handled;
    // A navigation that could not be checked does not happen: the view must
    // never load what the rules did not see.
    webkit_policy_decision_ignore(decision);
    return TRUE;
}

// The view never opens a second one: a new window is a link for the browser at most.
GtkWidget* createRequested(WebKitWebView*, WebKitNavigationAction* action, gpointer hooks) noexcept {
    guarded([&] {
        auto url = requestedURL(action);
        if (NavigationPolicy::opensNewWindowExternally(url)) hooksOf(hooks).openExternally(*url);
    });
    return nullptr;
}

// Handled either way: a dialog that failed is one the page does not get.
gboolean scriptDialogRequested(WebKitWebView*, WebKitScriptDialog* dialog, gpointer hooks) noexcept {
    return guarded(TRUE, [&]() -> gboolean { return hooksOf(hooks).scriptDialog(dialog); });
}

void deleteHooks(gpointer hooks) noexcept {
    guarded([hooks] { delete static_cast<PageHooks*>(hooks); });
}

struct RulesCall {
    WebKitUserContentFilterStore* store;
    RulesDone done;
};

void rulesSaved(GObject* store, GAsyncResult* result, gpointer data) noexcept {
    std::unique_ptr<RulesCall> call(static_cast<RulesCall*>(data));
    GError* error = nullptr;
    WebKitUserContentFilter* rules =
        webkit_user_content_filter_store_save_finish(WEBKIT_USER_CONTENT_FILTER_STORE(store), result, &error);
    int code = error ? error->code : 0;
    guarded([&] { call->done(rules, code); });
    if (rules) webkit_user_content_filter_unref(rules);
    g_clear_error(&error);
    g_object_unref(call->store);
}

}  // namespace

namespace WebViewSetup {

WebKitWebContext* makeContext(Bridge& bridge, bool allowAutomation) {
    WebKitWebContext* context = webkit_web_context_get_default();
    webkit_web_context_set_web_process_extensions_directory(
        context, ProgramFolders::webExtensions(ProgramFolders::executableFolder()).c_str());
    const std::string scheme(SchemeNames::scheme);
    webkit_web_context_register_uri_scheme(context, scheme.c_str(), schemeRequested, &bridge, nullptr);
    // Only a test build lets a WebDriver session in; the program users run never does.
    if (allowAutomation) webkit_web_context_set_automation_allowed(context, TRUE);
    return context;
}

std::unique_ptr<AppWebView> makeView(WebKitWebContext* context, bool allowAutomation) {
    WebKitUserContentManager* content = webkit_user_content_manager_new();
    WebKitSettings* settings = webkit_settings_new();
    webkit_settings_set_javascript_can_open_windows_automatically(settings, TRUE);
    // Nothing the page stores or caches survives the process.
    WebKitNetworkSession* session = webkit_network_session_new_ephemeral();
    auto web = std::make_unique<AppWebView>(context, session, content, settings, allowAutomation);
    g_object_unref(session);
    g_object_unref(settings);
    g_object_unref(content);
    if (allowAutomation) {
        g_signal_connect(context, "automation-started", G_CALLBACK(automationStarted), web->view());
    }
    return web;
}

void connectPage(AppWebView& web, PageHooks hooks) {
    WebKitWebView* view = web.view();
    // The view owns the hooks; its signals are gone before its data is freed.
    auto* held = new PageHooks(std::move(hooks));
    g_object_set_data_full(G_OBJECT(view), pageHooksKey, held, deleteHooks);
    g_signal_connect(view, "user-message-received", G_CALLBACK(messageReceived), held);
    g_signal_connect(view, "decide-policy", G_CALLBACK(policyDecided), held);
    g_signal_connect(view, "create", G_CALLBACK(createRequested), held);
    g_signal_connect(view, "script-dialog", G_CALLBACK(scriptDialogRequested), held);
}

void compileRules(RulesDone done) {
    std::string folder = ProgramFolders::cache();
    if (!folder.empty()) folder += "/content-rules";
    // A folder that cannot be made fails the compilation below, which is the
    // failure the user is told about.
    if (!folder.empty()) FileWrite::makeFolders(folder, 0700);
    WebKitUserContentFilterStore* store = webkit_user_content_filter_store_new(folder.c_str());
    GBytes* rules = g_bytes_new_static(NoNetworkRules::text, std::strlen(NoNetworkRules::text));
    auto* call = new RulesCall{store, std::move(done)};
    webkit_user_content_filter_store_save(store, NoNetworkRules::identifier, rules, nullptr, rulesSaved, call);
    g_bytes_unref(rules);
}

void loadPage(AppWebView& web, WebKitUserContentFilter* rules) {
    WebKitUserContentManager* content = webkit_web_view_get_user_content_manager(web.view());
    webkit_user_content_manager_add_filter(content, rules);
    const std::string start(SchemeNames::startAddress);
    webkit_web_view_load_uri(web.view(), start.c_str());
}

}  // namespace WebViewSetup
