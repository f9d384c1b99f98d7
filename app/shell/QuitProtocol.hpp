#pragma once
// The program never quits on its own authority: only the page knows whether
// its tabs hold unsaved edits. Every request to quit becomes a question to the
// page, and the program ends only when the page says its tabs are closed, when
// there is no page to ask, or when the user chooses "Quit Anyway". This is the
// decision logic with its log lines; the GTK side runs the script and the alert.
#include <optional>
#include <string>

class QuitProtocol {
public:
    enum class Decision { terminateNow, askPage };
    enum class Next { waitForPage, terminate, fallbackAlert };

    // A request to quit (menu, close button, signal). Once approved it goes
    // through; otherwise the caller runs the quit query in the page.
    Decision shouldTerminate();

    // The quit query's outcome: its result when that was text, whether the
    // evaluation reported an error, and whether the view has a page at all.
    Next pageAnswered(const std::optional<std::string>& answer, bool failed, bool hasPageURL);

    // The fallback alert was dismissed; true when the program should now end.
    bool fallbackDismissed(bool quitAnyway);

    // The page sent POST /api/quit after closing its tabs.
    void pageClosedTabs();

    // Lets the next request through without asking (the failed start, "Quit Anyway").
    void approve() { approved_ = true; }
    bool approved() const { return approved_; }

private:
    bool approved_ = false;
};
