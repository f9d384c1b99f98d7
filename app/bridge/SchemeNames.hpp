#pragma once
// The names of the custom scheme that serves the editor page and its API: the
// web view registers it, the request frame checks the origin against it, the
// shell's navigation and message rules recognise the page by it. One place,
// so the checks can never disagree about which page is ours.
#include <string_view>

namespace SchemeNames {

// The scheme the web view hands to the Bridge.
inline constexpr std::string_view scheme = "lornwick";
// The origin of the editor page, as an Origin header spells it.
inline constexpr std::string_view origin = "lornwick://app";
// The address the window loads at start.
inline constexpr std::string_view startAddress = "lornwick://app/";

}  // namespace SchemeNames
