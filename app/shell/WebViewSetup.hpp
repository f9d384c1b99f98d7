#pragma once
// The web view and the rules it runs under: the page's scheme handed to the
// Bridge, the view's settings and throwaway session, the WebDriver hook of
// test builds, the content rules that keep the page off the network, and the
// page's signals (its message channel, navigation, new windows, dialogs)
// turned into plain calls. Everything WebKit is told at set-up lives here, so
// what the page may do can be read in one file, and every WebKit callback of
// the view passes through the callback guard on its way in.
#include <webkit/webkit.h>

#include <functional>
#include <memory>
#include <string>

#include "app/bridge/Bridge.hpp"
#include "app/shell/AppWebView.hpp"
#include "app/shell/PageMessage.hpp"

namespace WebViewSetup {

// The default context, its requests for the page's scheme served by `bridge`
// (which outlives it). Only a test build (`allowAutomation`) lets a WebDriver
// session in.
WebKitWebContext* makeContext(Bridge& bridge, bool allowAutomation);

// The one view: scripts may open windows (each becomes a link for the
// browser), nothing it stores outlives the process, and in a test build a
// WebDriver session drives this view and never gets a second one.
std::unique_ptr<AppWebView> makeView(WebKitWebContext* context, bool allowAutomation);

// What the page's signals turn into; all run on the main thread.
struct PageHooks {
    // A message from the page, already checked (a refused one says so).
    std::function<void(const PageMessage&)> message;
    // A link the navigation rules send to the browser.
    std::function<void(const std::string& url)> openExternally;
    // An alert or confirm of the page's script; prompts and leave-page
    // questions are answered here and never reach it. True when handled.
    std::function<bool(WebKitScriptDialog*)> scriptDialog;
};

// Connects the page's signals for the life of the view.
void connectPage(AppWebView& web, PageHooks hooks);

// Compiles the no-network rule list into the program's cache, then calls
// `done` on the main thread with the rules (nullptr when they did not compile)
// and the error's code (0 without one). The rules are only lent to `done`.
using RulesDone = std::function<void(WebKitUserContentFilter* rules, int errorCode)>;
void compileRules(RulesDone done);

// Puts `rules` in force and only then loads the editor page.
void loadPage(AppWebView& web, WebKitUserContentFilter* rules);

}  // namespace WebViewSetup
