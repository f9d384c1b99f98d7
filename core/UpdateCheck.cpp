#include "core/UpdateCheck.hpp"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <charconv>
#include <ostream>
#include <tuple>
#include <vector>

#include <nlohmann/json.hpp>

#include "core/Characters.hpp"
#include "core/Pattern.hpp"

namespace {

constexpr std::size_t maxNotes = 1000;

// Whole-text rules through matchesWhole: a final line break ("1.2.3\n")
// would pass between "^" and "$" and end up in what the page shows.
const Pattern& versionRule() {
    static const Pattern rule("[0-9]{1,4}\\.[0-9]{1,4}\\.[0-9]{1,4}");
    return rule;
}
const Pattern& fileRule() {
    static const Pattern rule("[A-Za-z0-9._-]{1,100}\\.dmg");
    return rule;
}
const Pattern& digestRule() {
    static const Pattern rule("[0-9a-f]{64}");
    return rule;
}
const Pattern& minimumRule() {
    static const Pattern rule("[0-9]{1,3}(\\.[0-9]{1,3}){0,2}");
    return rule;
}

// A member that is present, text, and passes its rule.
std::optional<std::string> ruledText(const nlohmann::json& feed, const char* name, const Pattern& rule) {
    auto found = feed.find(name);
    if (found == feed.end() || !found->is_string()) return std::nullopt;
    std::string text = found->get<std::string>();
    if (!rule.matchesWhole(text)) return std::nullopt;
    return text;
}

// Whether the UTF-8 text holds nothing but white space and line breaks.
bool blank(std::string_view text) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    const auto length = static_cast<int32_t>(text.size());
    for (int32_t at = 0; at < length;) {
        UChar32 point;
        U8_NEXT(bytes, at, length, point);
        if (point < 0 || !u_isUWhiteSpace(point)) return false;
    }
    return true;
}

// The numbers of a version text: its longest prefix of digits and dots, split
// at the dots with empty pieces dropped; a piece too large for 64 bits is 0.
std::vector<std::int64_t> numericParts(std::string_view text) {
    auto end = std::find_if(text.begin(), text.end(), [](char c) { return !(c == '.' || (c >= '0' && c <= '9')); });
    std::string_view prefix(text.data(), static_cast<std::size_t>(end - text.begin()));
    std::vector<std::int64_t> parts;
    while (!prefix.empty()) {
        std::size_t dot = prefix.find('.');
        std::string_view piece = prefix.substr(0, dot);
        prefix.remove_prefix(dot == std::string_view::npos ? prefix.size() : dot + 1);
        if (piece.empty()) continue;
        std::int64_t value = 0;
        auto [stop, error] = std::from_chars(piece.data(), piece.data() + piece.size(), value);
        parts.push_back(error == std::errc() && stop == piece.data() + piece.size() ? value : 0);
    }
    return parts;
}

std::int64_t partAt(const std::vector<std::int64_t>& parts, std::size_t at) {
    return at < parts.size() ? parts[at] : 0;
}

}  // namespace

std::ostream& operator<<(std::ostream& out, const UpdateResult& result) {
    struct Describe {
        std::ostream& out;
        void operator()(const UpdateResult::Current& c) const { out << "current " << c.version; }
        void operator()(const UpdateResult::Failed& f) const { out << "failed \"" << f.reason << '"'; }
        void operator()(const UpdateResult::Newer& n) const {
            out << "newer " << n.info.version << " file " << n.info.file << " sha256 " << n.info.sha256 << " min "
                << n.info.minMacOS << " notes " << (n.info.notes ? '"' + *n.info.notes + '"' : std::string("none"));
        }
    };
    std::visit(Describe{out}, result.value());
    return out;
}

namespace UpdateCheck {

std::optional<UpdateInfo> parse(std::string_view bytes) {
    if (bytes.size() > maxBytes) return std::nullopt;
    auto feed = nlohmann::json::parse(bytes, nullptr, false);
    if (feed.is_discarded() || !feed.is_object()) return std::nullopt;

    UpdateInfo info;
    auto version = ruledText(feed, "version", versionRule());
    if (!version) return std::nullopt;
    auto file = ruledText(feed, "file", fileRule());
    if (!file) return std::nullopt;
    auto digest = ruledText(feed, "sha256", digestRule());
    if (!digest) return std::nullopt;
    auto minimum = ruledText(feed, "min_macos", minimumRule());
    if (!minimum) return std::nullopt;
    info.version = std::move(*version);
    info.file = std::move(*file);
    info.sha256 = std::move(*digest);
    info.minMacOS = std::move(*minimum);

    if (auto notes = feed.find("notes"); notes != feed.end()) {
        // A feed that breaks the notes' rule is not believed at all, rather
        // than shown with its notes cut or dropped.
        if (!notes->is_string()) return std::nullopt;
        std::string text = notes->get<std::string>();
        if (Characters::count(text) > maxNotes) return std::nullopt;
        if (!blank(text)) info.notes = std::move(text);
    }
    return info;
}

bool isNewer(std::string_view a, std::string_view than) {
    auto left = numericParts(a);
    auto right = numericParts(than);
    for (std::size_t at = 0; at < std::max(left.size(), right.size()); ++at) {
        if (partAt(left, at) != partAt(right, at)) return partAt(left, at) > partAt(right, at);
    }
    return false;
}

bool macOSAtLeast(std::string_view min, SystemVersion running) {
    auto parts = numericParts(min);
    if (parts.empty()) return true;
    auto required = std::tuple(partAt(parts, 0), partAt(parts, 1), partAt(parts, 2));
    return std::tuple(running.major, running.minor, running.patch) >= required;
}

bool dueOnOpen(std::optional<Seconds> last, Seconds now) {
    if (!last) return true;
    if (*last > now) return true;
    return now - *last >= interval;
}

}  // namespace UpdateCheck
