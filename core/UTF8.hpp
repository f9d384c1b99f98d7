#pragma once
// Whether bytes are well-formed UTF-8, checked without converting them: file
// names the page may be given, and bodies the console writes as JSON text.
#include <string_view>

namespace UTF8 {

// Well-formed UTF-8 as JSON writers accept it: no overlong forms, no
// surrogates, nothing past U+10FFFF, no sequence cut short.
bool isValid(std::string_view text);

// Names on disk are bytes, but a name that is not UTF-8 cannot be written in
// a JSON answer or in Open Recent: documents and folders with such a name are
// turned away where they enter, before anything is read, written or
// remembered. Both throw BridgeError 400 unless `path` is valid UTF-8.
void checkFileName(std::string_view path);    // "the file name is not valid UTF-8"
void checkFolderName(std::string_view path);  // "the folder name is not valid UTF-8"

}  // namespace UTF8
