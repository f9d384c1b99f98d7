#pragma once
// The program around the page, and the owner that ties its parts together: it
// launches in a fixed order (log, editor folder, Bridge, web view, window,
// menus, the no-network rule list, and only then the page), answers the
// page's messages, runs the page's dialogs and menus, and turns every request
// to quit into a question to the page. How the application is started and
// asked to end is AppLifecycle's, what WebKit is told is WebViewSetup's, and
// the window's looks and place are WindowChrome's. Everything here runs on
// the main thread.
#include <gtk/gtk.h>
#include <webkit/webkit.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/bridge/Bridge.hpp"
#include "app/shell/AppWebView.hpp"
#include "app/shell/GioNetwork.hpp"
#include "app/shell/GioWorkspace.hpp"
#include "app/shell/GlibMainQueue.hpp"
#include "app/shell/GtkMenus.hpp"
#include "app/shell/GtkPanels.hpp"
#include "app/shell/PageMessage.hpp"
#include "app/shell/QuitProtocol.hpp"

class AppDelegate : public std::enable_shared_from_this<AppDelegate> {
public:
    // Whether the program lets a WebDriver session drive it: only test builds do.
    AppDelegate(GtkApplication* application, bool allowAutomation);
    AppDelegate(const AppDelegate&) = delete;
    AppDelegate& operator=(const AppDelegate&) = delete;

    // Connects the application's signals; call once, before running it.
    void attach();

private:
    using ScriptResult = std::function<void(std::optional<std::string> text, bool failed)>;

    // --- launch ---
    void launch();
    void makeWebView();
    void makeWindow();
    void rulesCompiled(WebKitUserContentFilter* rules, int errorCode);
    void startFailed(int code);

    // --- documents handed to the program ---
    void openDocuments(std::vector<std::string> paths);

    // --- the page ---
    void pageMessage(const PageMessage& message);
    void openExternally(const std::string& url);
    bool scriptDialog(WebKitScriptDialog* dialog);
    void runScript(const char* script, ScriptResult done = nullptr);

    // --- menus ---
    void installMenus(const nlohmann::json& descriptions, bool withTarget);
    void menuChosen(MenuAction action, const std::string& pageId);
    void showStandardAbout();

    // --- quit and lifecycle ---
    void requestTermination();
    void quitQueryAnswered(std::optional<std::string> answer, bool failed);
    void showFallbackAlert();
    void terminate();
    void becameActive();
    GtkWindow* sheetParent() const;

    // Runs `call` on the delegate if it still exists: what the Bridge's callbacks hold.
    std::function<void()> weakly(void (AppDelegate::*call)());
    void pageClosedTabs();
    void folderChanged();
    void openRequested();

    GtkApplication* application_;
    const bool allowAutomation_;

    // Fields in the order the launch fills them.
    GtkWindow* window_ = nullptr;
    std::unique_ptr<AppWebView> web_;
    std::unique_ptr<Bridge> bridge_;
    QuitProtocol quit_;
    std::vector<std::string> earlyOpen_;

    GlibMainQueue main_;
    GtkPanels panels_;
    GioWorkspace workspace_;
    GioNetwork network_;
    NoBookmarks bookmarks_;
    std::unique_ptr<GtkMenus> menus_;
    bool launched_ = false;
    bool shown_ = false;
    GtkWindow* fallbackAlert_ = nullptr;
};
