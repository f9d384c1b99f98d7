#include "core/StoredJSON.hpp"

namespace StoredJSON {

const std::string* stringMember(const nlohmann::json& object, const char* key) {
    auto found = object.find(key);
    if (found == object.end() || !found->is_string()) return nullptr;
    return found->get_ptr<const std::string*>();
}

bool isBase64(const std::string& text) {
    auto inAlphabet = [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
    };
    if (text.size() % 4 != 0) return false;
    std::size_t padding = 0;
    if (!text.empty() && text.back() == '=') ++padding;
    if (text.size() > 1 && text[text.size() - 2] == '=') ++padding;
    for (std::size_t i = 0; i < text.size() - padding; ++i) {
        if (!inAlphabet(text[i])) return false;
    }
    return true;
}

}  // namespace StoredJSON
