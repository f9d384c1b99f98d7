#pragma once
// Which pictures a document may show, and reading them. A picture reference
// comes from a document's text, which may be a stranger's: it must stay a
// local file of a picture type, inside the folder this program may read for
// that document, outside hidden files and private folders, and small enough
// to hold in memory. Every refusal is a BridgeError with the message the page
// shows in place of the picture.
#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace Images {

// Lower-case file extension to media type: the pictures the preview shows.
inline constexpr std::array<std::pair<std::string_view, std::string_view>, 9> types{{
    {"png", "image/png"},
    {"jpg", "image/jpeg"},
    {"jpeg", "image/jpeg"},
    {"gif", "image/gif"},
    {"webp", "image/webp"},
    {"avif", "image/avif"},
    {"bmp", "image/bmp"},
    {"ico", "image/x-icon"},
    {"svg", "image/svg+xml"},
}};

inline constexpr std::size_t maxBytes = 20971520;

inline constexpr const char* needsFolder =
    "Pictures next to this document are not shown yet: allow access to its folder.";

// The media type for a path's extension (any letter case), or none.
std::optional<std::string_view> typeOf(std::string_view path);

// A picture found by `resolve`: its real path and the real folder it lies in.
struct Located {
    std::string path;
    std::string root;
};

// The picture a reference names, for the document at `doc` (absolute), which
// must lie in the folder `allowed`. The reference is taken as written in the
// document: fragment and query dropped, percent-escapes decoded, spaces and
// tabs trimmed. Links are resolved before anything is judged.
// Throws 400 (not a local file), 403 (outside the folder, hidden or
// private), 415 (not a picture type).
Located resolve(const std::string& src, const std::string& doc, const std::string& allowed);

struct Picture {
    std::string bytes;
    std::string type;
};

// The picture's bytes, read from the folder it was found in without
// following a link put in its place since, through the one descriptor whose
// type and size were checked. `sandboxed`: a picture that cannot be reached
// is reported as the folder grant it needs (403 with `needsFolder`) instead
// of as missing (404) or unreadable (500). 413 past maxBytes, also when the
// file grew after its size was looked at.
Picture read(const Located& picture, bool sandboxed);

}  // namespace Images
