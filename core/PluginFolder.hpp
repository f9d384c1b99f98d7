#pragma once
// A plugin's own folder of Markdown files. The plugin reaches little of it:
// the plain Markdown files directly inside, each read whole and small, and new
// files created under a cleaned-up name that never replaces an existing file.
#include <cstddef>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace PluginFolder {

// The largest file listed, and the largest file created, in bytes.
inline constexpr std::size_t fileMax = 524288;
// The most files one listing answers.
inline constexpr std::size_t filesMax = 200;

// Whether `id` names a plugin (the same rule as the settings' plugin ids).
bool validID(std::string_view id);

// A proposed name made into a file name: no separators or control
// characters, no leading dots or white space, single spaces, at most 100
// user-perceived characters (and few enough bytes that a number can still be
// added), "Untitled" when nothing is left; always ending in ".md". Always
// valid UTF-8, even when `proposed` is not.
std::string fileName(std::string_view proposed);

// The Markdown files directly inside `folder`, sorted without regard to case:
// [{"name": the name without its extension, "text": the text}], at most
// filesMax of them. Only regular files of at most fileMax bytes of UTF-8 text
// whose name is visible and ends in ".md" or ".markdown" are read, each
// through one descriptor that neither follows a link nor waits on a pipe, so
// what was checked is what is read. Never throws; a folder that cannot be
// read lists as empty.
nlohmann::json listing(const std::string& folder);

// Creates a new Markdown file in `folder` from the proposed name and answers
// its name: fileName(name), or that name numbered " 2" up to " 999" when
// taken. Never replaces an existing file and never leaves part of one: the
// bytes are written and flushed under a hidden temporary name, which is then
// given the final name only where nothing stands; the folder is flushed
// last. The file is created with mode 0644 as narrowed by the umask.
// Throws BridgeError 413 "file too large", 400 "not UTF-8 text", 409 "too
// many files with that name", or 500 "not saved: " with the system's reason;
// after a failure no file and no temporary is left of this call.
std::string create(const std::string& folder, std::string_view name, std::string_view bytes);

}  // namespace PluginFolder
