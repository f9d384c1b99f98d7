#pragma once
// The names of the temporary files the program writes beside the files it
// replaces: ".quillmarsh-" + a random UUID + ".tmp". Hidden, so the listing
// and the watcher pass over them while they exist; recognisable, so a sweep
// can find the ones a killed save left behind and never mistake anyone
// else's file for one.
#include <string>
#include <string_view>

namespace TemporaryNames {

inline constexpr std::string_view prefix = ".quillmarsh-";
inline constexpr std::string_view suffix = ".tmp";

// A fresh name: prefix, randomUUID(), suffix. Throws std::runtime_error as
// randomUUID does.
std::string make();

// Whether `name` is one that make() could have given: the prefix, a UUID in
// exactly the form randomUUID writes (upper-case digits, version 4, the RFC
// 4122 variant), the suffix, and nothing else.
bool isOurTemporaryName(std::string_view name);

}  // namespace TemporaryNames
