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
    // An answer arriving after the page already closed its tabs for that
    // query changes nothing and is not logged again.
    Next pageAnswered(const std::optional<std::string>& answer, bool failed, bool hasPageURL);

    // The fallback alert was dismissed; true when the program should now end.
    bool fallbackDismissed(bool quitAnyway);

    // The page sent POST /api/quit after closing its tabs. A page may do so
    // before the quit query's own answer arrives: that answer is logged here,
    // as the program may end before it comes.
    void pageClosedTabs();

    // Lets the next request through without asking (the failed start, "Quit Anyway").
    void approve() { approved_ = true; }
    bool approved() const { return approved_; }

private:
    bool approved_ = false;
    // A quit query was run and its answer has not arrived yet.
    bool queryOpen_ = false;
};
