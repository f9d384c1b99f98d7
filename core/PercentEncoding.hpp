#pragma once
// Percent-escapes as URLs and Markdown references write them.
#include <optional>
#include <string>

// Decodes %XX escapes; nothing when an escape is malformed.
std::optional<std::string> percentDecode(const std::string& text);
