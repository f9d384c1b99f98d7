#pragma once
// Which of a clipboard's media types are plain text made from a string, and
// in which character set another program receives it. GTK turns a copied
// string into "text/plain;charset=utf-8", "text/plain;charset=<locale's set>"
// and bare "text/plain" (plain ASCII); the copied-text server serves each of
// them from memory, so it must know the same names and the same sets.
#include <optional>
#include <string>
#include <string_view>

namespace PlainTextTypes {

// The character set `mimeType` asks for when it is plain text ("ASCII" for a
// bare "text/plain"), or nothing when it is any other type. Names compare as
// media types do: type and parameter name in any case, spaces around ';' and
// '=' allowed; the set comes back as written, unquoted.
std::optional<std::string> characterSet(std::string_view mimeType);

// Whether `set` names UTF-8 (then the text goes out as it is, unconverted).
bool isUtf8(std::string_view set);

}  // namespace PlainTextTypes
