#pragma once
// The content rule list that keeps the page off the network. It must be in
// force before the page is loaded; without it the editor is never shown.
//
// Every resource type the rule language knows is listed, "image" included:
// without it an <img src="https://..."> would still reach the network, and a
// picture's address is enough to tell a server that a document was opened.
namespace NoNetworkRules {

inline constexpr const char* identifier = "quillmarsh-no-network";

inline constexpr const char* text =
    R"([{"trigger":{"url-filter":"^https?://","resource-type":["document","image","style-sheet","script","font","raw","svg-document","media","popup","ping","fetch","websocket","other"]},"action":{"type":"block"}}])";

}  // namespace NoNetworkRules
