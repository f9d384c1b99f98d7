#pragma once
// A JSON string written straight into the output, for large texts that are
// already known to be well-formed UTF-8 (a listing's answer, a version check's
// keys). The JSON library checks every byte's UTF-8 on the way out, which for
// a 100 KiB answer costs more than producing it did; the output here is the
// same as the library's, byte for byte.
#include <string>
#include <string_view>

namespace JSONText {

// Appends `text` as a quoted JSON string. `text` must be well-formed UTF-8
// (see UTF8::isValid): it is copied as it is, apart from the escapes.
void appendString(std::string& out, std::string_view text);

}  // namespace JSONText
