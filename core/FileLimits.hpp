#pragma once
// The size limit shared by reading, saving and the request body reader: one
// number, so a document that can be read can always be saved back.
#include <cstdint>

namespace Files {

// The largest document that may be read or saved, and the largest streamed body.
inline constexpr std::int64_t maxBytes = 20971520;

}  // namespace Files
