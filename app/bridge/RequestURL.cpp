#include "app/bridge/RequestURL.hpp"

RequestURL RequestURL::parse(const std::string& url) {
    RequestURL parsed;
    std::string rest = url;
    auto hash = rest.find('#');
    if (hash != std::string::npos) rest.erase(hash);
    auto question = rest.find('?');
    if (question != std::string::npos) {
        parsed.rawQuery = rest.substr(question + 1);
        rest.erase(question);
    }
    auto scheme = rest.find("://");
    if (scheme == std::string::npos) {
        // No authority at all: everything after "scheme:" is the path.
        auto colon = rest.find(':');
        std::string path = colon == std::string::npos ? rest : rest.substr(colon + 1);
        parsed.path = percentDecode(path).value_or(path);
        return parsed;
    }
    std::string afterScheme = rest.substr(scheme + 3);
    auto slash = afterScheme.find('/');
    std::string authority = afterScheme.substr(0, slash);
    std::string path = slash == std::string::npos ? std::string() : afterScheme.substr(slash);
    auto at = authority.rfind('@');
    if (at != std::string::npos) authority.erase(0, at + 1);
    if (!authority.empty() && authority.front() != '[') {
        auto colon = authority.find(':');
        if (colon != std::string::npos) authority.erase(colon);
    }
    if (!authority.empty()) parsed.host = percentDecode(authority).value_or(authority);
    parsed.path = percentDecode(path).value_or(path);
    return parsed;
}

Query RequestURL::queryItems() const {
    Query items;
    if (!rawQuery || rawQuery->empty()) return items;
    const std::string& query = *rawQuery;
    size_t start = 0;
    while (start <= query.size()) {
        auto end = query.find('&', start);
        if (end == std::string::npos) end = query.size();
        std::string item = query.substr(start, end - start);
        if (!item.empty()) {
            auto equals = item.find('=');
            std::string name = item.substr(0, equals);
            std::string value = equals == std::string::npos ? std::string() : item.substr(equals + 1);
            std::string decodedName = percentDecode(name).value_or(name);
            items.emplace(decodedName, percentDecode(value).value_or(value));
        }
        start = end + 1;
    }
    return items;
}
