#pragma once
// Request body reader: a saved text must arrive whole, so a body cut short in
// transit is refused before any route sees it.
#include "core/BridgeError.hpp"
#include "core/FileLimits.hpp"
#include "core/InputStream.hpp"

#include <memory>
#include <optional>
#include <string>

namespace Files {

// A request's body: the bytes when given (not size-checked), else the stream
// read to its end in 64 KiB chunks (413 past maxBytes, 400 on a read error),
// else empty. A declared length that is a decimal integer must match (400).
std::string readBody(std::optional<std::string> bytes, std::shared_ptr<InputStream> stream,
                     std::optional<std::string> declaredLength);

// A save's text against the byte count the page says it sent: the count must
// be a decimal integer equal to the body's size, otherwise 400.
void checkSaveBody(const std::string& body, const std::optional<std::string>& sent);

}  // namespace Files
