#pragma once
// Reading names out of absolute paths as text, without touching the disk.
#include <string>
#include <string_view>

namespace PathNames {

// The last non-empty component of a path: "b" for "/a/b", "/a//b" and "/a/b/";
// "" for "/" and "" (the root has no name to show).
std::string lastComponent(std::string_view path);

}  // namespace PathNames
