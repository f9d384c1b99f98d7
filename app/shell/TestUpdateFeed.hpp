#pragma once
// The test build's way to point update checks at a local feed: the e2e tests
// serve one over loopback HTTPS with their own authority. The program users
// run never reads these variables.
#include <functional>
#include <optional>
#include <string>

#include "core/UpdateFetcher.hpp"

namespace TestUpdateFeed {

inline constexpr const char* feedVariable = "QUILLMARSH_TEST_UPDATE_FEED";
inline constexpr const char* authorityVariable = "QUILLMARSH_TEST_UPDATE_CA";

using Lookup = std::function<std::optional<std::string>(const char* name)>;

// `options` with the feed and authority the environment names, only when
// automation is allowed and a feed is named; otherwise `options` unchanged.
UpdateFetcher::Options apply(UpdateFetcher::Options options, bool allowAutomation, const Lookup& lookup);

// The process environment as a Lookup.
std::optional<std::string> fromEnvironment(const char* name);

}  // namespace TestUpdateFeed
