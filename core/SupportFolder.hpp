#pragma once
// The folder that holds everything the application remembers between launches
// (settings, recent documents, session, recovery, backups, ...). Each store
// makes its own file or folder in it when it first writes; finding it creates
// nothing.
#include <string>

namespace SupportFolder {

inline constexpr const char* name = "Quillmarsh";
// The folder's name under the product's earlier name; taken over once.
inline constexpr const char* earlierName = "LornWick";

// The user's data folder: $XDG_DATA_HOME, default ~/.local/share.
std::string userDataHome();

// The support folder inside `dataHome`. When only the earlier folder exists it
// is moved to the new name first; if that move fails, the earlier folder is
// used as it is for this launch and the next launch tries again. Both outcomes
// are logged. Never fails.
std::string find(const std::string& dataHome);

}  // namespace SupportFolder
