#pragma once
// The ids of the page's plugins: what names a plugin's options in the
// settings and its remembered folder. Two to forty characters, a lower-case
// letter first, then lower-case letters, digits or hyphens.
#include <string_view>

namespace PluginId {

bool isValid(std::string_view id);

}  // namespace PluginId
