#pragma once
// Reading names out of absolute paths as text, without touching the disk.
#include <string>
#include <string_view>

namespace PathNames {

// The last non-empty component of a path: "b" for "/a/b", "/a//b" and "/a/b/";
// "" for "/" and "" (the root has no name to show).
std::string lastComponent(std::string_view path);

// The folder that holds a document, as written: the text before its last
// component, without trailing slashes ("/" for a document at the root).
std::string folderOf(std::string_view documentPath);

// Whether `inner` is `outer` or lies below it, judged on the text of two
// paths already standardised (links resolved, no "." or ".." parts).
bool holds(std::string_view outer, std::string_view inner);

}  // namespace PathNames
