#include "app/shell/TestUpdateFeed.hpp"

#include <cstdlib>

namespace TestUpdateFeed {

UpdateFetcher::Options apply(UpdateFetcher::Options options, bool allowAutomation, const Lookup& lookup) {
    if (!allowAutomation) return options;
    auto feed = lookup(feedVariable);
    if (!feed || feed->empty()) return options;
    options.feed = *feed;
    // An authority without a feed of its own would only weaken the real check.
    if (auto authority = lookup(authorityVariable); authority && !authority->empty()) options.caFile = *authority;
    return options;
}

std::optional<std::string> fromEnvironment(const char* name) {
    const char* value = std::getenv(name);
    if (!value) return std::nullopt;
    return std::string(value);
}

}  // namespace TestUpdateFeed
