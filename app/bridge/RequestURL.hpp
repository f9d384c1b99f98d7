#pragma once
// The parts of a request URL that the frame looks at, parsed the way the
// platform's URL type would: host without port, path with percent-escapes
// decoded, query items percent-decoded with "+" left alone.
#include <map>
#include <optional>
#include <string>

#include "core/PercentEncoding.hpp"

using Query = std::map<std::string, std::string>;

struct RequestURL {
    std::optional<std::string> host;
    std::string path;
    std::optional<std::string> rawQuery;

    static RequestURL parse(const std::string& url);
    // First value of a repeated name wins; a name without "=" has the empty value.
    Query queryItems() const;
};
