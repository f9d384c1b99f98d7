#pragma once
// The user's base folders as the XDG base directory rules define them: the
// variable when it holds an absolute path (a relative one is invalid and
// ignored), else the default below the home folder. Read when asked, so tests
// can point them at a temporary folder.
#include <string>

namespace UserFolders {

// $HOME when absolute, else the home folder in the user database; "" when
// neither is known.
std::string home();

// $XDG_DATA_HOME, default ~/.local/share. "" when there is no home folder either.
std::string dataHome();

// $XDG_STATE_HOME, default ~/.local/state. "" when there is no home folder either.
std::string stateHome();

}  // namespace UserFolders
