#include "app/shell/QuitProtocol.hpp"

#include "core/LogFile.hpp"

QuitProtocol::Decision QuitProtocol::shouldTerminate() {
    if (approved_) {
        appLog().add("quit: approved, terminating");
        return Decision::terminateNow;
    }
    appLog().add("quit: requested, asking the page");
    queryOpen_ = true;
    return Decision::askPage;
}

QuitProtocol::Next QuitProtocol::pageAnswered(const std::optional<std::string>& answer, bool failed,
                                              bool hasPageURL) {
    // The page closed its tabs before this answer came: the line is written
    // and the program is on its way out.
    if (!queryOpen_ && approved_) return Next::waitForPage;
    queryOpen_ = false;
    bool known = answer && (*answer == "asked" || *answer == "no-page");
    appLog().add("quit: page answered " + (known ? *answer : std::string("nothing")) +
                 (failed ? " with an error" : ""));
    if (answer == "asked") return Next::waitForPage;
    if (answer == "no-page" && !hasPageURL) {
        approved_ = true;
        return Next::terminate;
    }
    return Next::fallbackAlert;
}

bool QuitProtocol::fallbackDismissed(bool quitAnyway) {
    appLog().add(std::string("quit: fallback alert -> ") + (quitAnyway ? "quit anyway" : "cancel"));
    if (quitAnyway) approved_ = true;
    return quitAnyway;
}

void QuitProtocol::pageClosedTabs() {
    if (queryOpen_) {
        // Only a page that took the question closes its tabs while it is
        // open; the script answers "asked" once the page's handler returns.
        appLog().add("quit: page answered asked");
        queryOpen_ = false;
    }
    appLog().add("quit: page closed its tabs");
    approved_ = true;
}
