#include "app/bridge/ApiRequest.hpp"

const std::string* headerValue(const HeaderMap& headers, const char* name, const char* lower) {
    auto found = headers.find(name);
    if (found == headers.end()) found = headers.find(lower);
    return found == headers.end() ? nullptr : &found->second;
}

const std::string* queryItem(const Query& query, const char* name) {
    auto found = query.find(name);
    return found == query.end() ? nullptr : &found->second;
}
