#pragma once
// An API request as handed to its route, copied out of the scheme task, and
// the two look-ups every route makes of it.
#include <memory>
#include <optional>
#include <string>

#include "app/bridge/Platform.hpp"
#include "app/bridge/RequestURL.hpp"

// A header under the two spellings the frame accepts (as sent, capitalised,
// then all lower case) and no other; nothing when absent.
const std::string* headerValue(const HeaderMap& headers, const char* name, const char* lower);

// A query item by name; nothing when absent.
const std::string* queryItem(const Query& query, const char* name);

struct ApiRequest {
    std::shared_ptr<SchemeTask> task;
    std::string method;
    std::string path;
    Query query;
    std::string body;
    HeaderMap headers;

    const std::string* header(const char* name, const char* lower) const { return headerValue(headers, name, lower); }
    const std::string* item(const char* name) const { return queryItem(query, name); }
};
