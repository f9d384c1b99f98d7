#pragma once
// Whether bytes are well-formed UTF-8, checked without converting them: file
// names the page may be given, and bodies the console writes as JSON text.
#include <string_view>

namespace UTF8 {

// Well-formed UTF-8 as JSON writers accept it: no overlong forms, no
// surrogates, nothing past U+10FFFF, no sequence cut short.
bool isValid(std::string_view text);

}  // namespace UTF8
