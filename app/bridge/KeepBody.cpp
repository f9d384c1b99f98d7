#include "app/bridge/KeepBody.hpp"

#include <cstdint>
#include <cstring>

#include <nlohmann/json.hpp>

#include "core/JSONText.hpp"
#include "core/UTF8.hpp"

namespace {

constexpr std::uint64_t ones = ~std::uint64_t{0} / 255;

// Whether any of the eight bytes needs a closer look inside a JSON string: a
// quote, a backslash, a control character or a byte of a multi-byte letter.
bool anySpecial(std::uint64_t word) {
    auto hasLess = [](std::uint64_t x, std::uint64_t n) { return (x - ones * n) & ~x & ones * 128; };
    return ((word & ones * 128) | hasLess(word, 0x20) | hasLess(word ^ (ones * '"'), 1) |
            hasLess(word ^ (ones * '\\'), 1)) != 0;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The code unit of "\uXXXX" at `at`, or -1.
long unicodeEscape(std::string_view text, std::size_t at) {
    if (at + 6 > text.size() || text[at] != '\\' || text[at + 1] != 'u') return -1;
    long unit = 0;
    for (std::size_t k = at + 2; k < at + 6; ++k) {
        int digit = hexValue(text[k]);
        if (digit < 0) return -1;
        unit = unit * 16 + digit;
    }
    return unit;
}

struct Scanned {
    std::string_view literal;  // quotes included
    bool escaped = false;
};

class Reader {
public:
    explicit Reader(std::string_view text) : text_(text) {}

    void skipSpace() {
        while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\n' || text_[at_] == '\r'))
            ++at_;
    }
    bool take(char c) {
        skipSpace();
        if (at_ >= text_.size() || text_[at_] != c) return false;
        ++at_;
        return true;
    }
    bool atEnd() {
        skipSpace();
        return at_ == text_.size();
    }

    // A string at the reading position, checked as the library checks it:
    // only the escapes JSON has, surrogates in pairs, no control
    // characters, well-formed UTF-8.
    std::optional<Scanned> string() {
        skipSpace();
        if (at_ >= text_.size() || text_[at_] != '"') return std::nullopt;
        const std::size_t start = at_++;
        bool escaped = false;
        while (true) {
            while (at_ + 8 <= text_.size()) {
                std::uint64_t word;
                std::memcpy(&word, text_.data() + at_, 8);
                if (anySpecial(word)) break;
                at_ += 8;
            }
            if (at_ >= text_.size()) return std::nullopt;
            auto c = static_cast<unsigned char>(text_[at_]);
            if (c == '"') {
                ++at_;
                return Scanned{text_.substr(start, at_ - start), escaped};
            }
            if (c < 0x20) return std::nullopt;
            if (c == '\\') {
                escaped = true;
                if (!escape()) return std::nullopt;
            } else if (c >= 0x80) {
                std::size_t end = at_;
                while (end < text_.size() && static_cast<unsigned char>(text_[end]) >= 0x80) ++end;
                if (!UTF8::isValid(text_.substr(at_, end - at_))) return std::nullopt;
                at_ = end;
            } else {
                ++at_;
            }
        }
    }

private:
    bool escape() {
        if (at_ + 1 >= text_.size()) return false;
        char kind = text_[at_ + 1];
        if (std::strchr("\"\\/bfnrt", kind) && kind != '\0') {
            at_ += 2;
            return true;
        }
        long unit = unicodeEscape(text_, at_);
        if (unit < 0 || (unit >= 0xDC00 && unit <= 0xDFFF)) return false;
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            long low = unicodeEscape(text_, at_ + 6);
            if (low < 0xDC00 || low > 0xDFFF) return false;
            at_ += 12;
            return true;
        }
        at_ += 6;
        return true;
    }

    std::string_view text_;
    std::size_t at_ = 0;
};

std::string decoded(const Scanned& scanned) {
    if (!scanned.escaped) return std::string(scanned.literal.substr(1, scanned.literal.size() - 2));
    return nlohmann::json::parse(scanned.literal).get<std::string>();
}

std::optional<std::string>* member(KeepBody& body, std::string_view key) {
    if (key == "\"id\"") return &body.id;
    if (key == "\"name\"") return &body.name;
    if (key == "\"base\"") return &body.base;
    if (key == "\"path\"") return &body.path;
    if (key == "\"file\"") return &body.file;
    return nullptr;
}

// An object whose members are all strings with plain names, the shape the
// page sends; nothing for any other body, which the library then reads.
std::optional<KeepBody> readPlainly(std::string_view text) {
    Reader reader(text);
    KeepBody body;
    bool hasText = false;
    if (!reader.take('{')) return std::nullopt;
    if (reader.take('}')) return std::nullopt;
    do {
        auto key = reader.string();
        if (!key || key->escaped || !reader.take(':')) return std::nullopt;
        auto value = reader.string();
        if (!value) return std::nullopt;
        // Of a name given twice the last counts, as in the library.
        if (key->literal == "\"text\"") {
            body.textLiteral = value->literal;
            hasText = true;
        } else if (auto* known = member(body, key->literal)) {
            *known = decoded(*value);
        }
    } while (reader.take(','));
    if (!reader.take('}') || !reader.atEnd() || !hasText) return std::nullopt;
    return body;
}

std::optional<std::string> stringMember(const nlohmann::json& object, const char* key) {
    auto found = object.find(key);
    if (found == object.end() || !found->is_string()) return std::nullopt;
    return found->get<std::string>();
}

}  // namespace

std::optional<KeepBody> KeepBody::read(std::string_view text) {
    if (auto plain = readPlainly(text)) return plain;
    auto parsed = nlohmann::json::parse(text, nullptr, /*allow_exceptions=*/false);
    if (!parsed.is_object()) return std::nullopt;
    auto textMember = parsed.find("text");
    if (textMember == parsed.end() || !textMember->is_string()) return std::nullopt;
    KeepBody body{stringMember(parsed, "id"), stringMember(parsed, "name"), stringMember(parsed, "base"),
                  stringMember(parsed, "path"), stringMember(parsed, "file"), {}};
    JSONText::appendString(body.textLiteral, textMember->get_ref<const std::string&>());
    return body;
}
