#include "app/shell/QuitProtocol.hpp"

#include "core/LogFile.hpp"

QuitProtocol::Decision QuitProtocol::shouldTerminate() {
    if (approved_) {
        appLog().add("quit: approved, terminating");
        return Decision::terminateNow;
    }
    appLog().add("quit: requested, asking the page");
    return Decision::askPage;
}

QuitProtocol::Next QuitProtocol::pageAnswered(const std::optional<std::string>& answer, bool failed,
                                              bool hasPageURL) {
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
    appLog().add("quit: page closed its tabs");
    approved_ = true;
}
