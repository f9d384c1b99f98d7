#pragma once
// Where the program's own files lie: beside the executable, as
// <dir>/../share/quillmarsh/editor and <dir>/../lib/quillmarsh/web-extensions.
// The build tree has the same layout as an installed program, so the program
// finds them the same way in both.
#include <optional>
#include <string>

namespace ProgramFolders {

// The folder that holds the running executable; "" when the system does not say.
std::string executableFolder();

// The editor folder for an executable in `binFolder`, when it exists.
std::optional<std::string> editor(const std::string& binFolder);

// The folder of the web-process extension for an executable in `binFolder`.
std::string webExtensions(const std::string& binFolder);

// The program's cache folder: $XDG_CACHE_HOME (default ~/.cache) + "/Quillmarsh";
// "" when there is no home folder either.
std::string cache();

}  // namespace ProgramFolders
