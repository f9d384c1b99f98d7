#include "core/Pattern.hpp"

#include <unicode/regex.h>
#include <unicode/unistr.h>

#include <stdexcept>

#include "core/UTF8.hpp"

struct Pattern::Compiled {
    std::unique_ptr<icu::RegexPattern> pattern;
};

namespace {

icu::UnicodeString unicode(std::string_view text) {
    return icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
}

}  // namespace

Pattern::Pattern(std::string_view pattern, Case letterCase) : compiled_(std::make_unique<Compiled>()) {
    UErrorCode error = U_ZERO_ERROR;
    UParseError where;
    uint32_t flags = letterCase == Case::insensitive ? UREGEX_CASE_INSENSITIVE : 0;
    compiled_->pattern.reset(icu::RegexPattern::compile(unicode(pattern), flags, where, error));
    if (U_FAILURE(error) || !compiled_->pattern) {
        throw std::logic_error("bad pattern: " + std::string(pattern) + " (" + u_errorName(error) + ")");
    }
}

Pattern::~Pattern() = default;

bool Pattern::matchesWhole(std::string_view text) const {
    // ICU would read broken UTF-8 as replacement characters, which a class
    // such as [^/] then accepts.
    if (!UTF8::isValid(text)) return false;
    UErrorCode error = U_ZERO_ERROR;
    icu::UnicodeString subject = unicode(text);
    std::unique_ptr<icu::RegexMatcher> matcher(compiled_->pattern->matcher(subject, error));
    if (U_FAILURE(error) || !matcher) return false;
    bool whole = matcher->matches(error);
    return U_SUCCESS(error) && whole;
}

bool Pattern::foundIn(std::string_view text) const {
    if (!UTF8::isValid(text)) return false;
    UErrorCode error = U_ZERO_ERROR;
    icu::UnicodeString subject = unicode(text);
    std::unique_ptr<icu::RegexMatcher> matcher(compiled_->pattern->matcher(subject, error));
    if (U_FAILURE(error) || !matcher) return false;
    bool found = matcher->find(0, error);
    return U_SUCCESS(error) && found;
}

std::string Pattern::replaceAll(std::string_view text, std::string_view replacement) const {
    UErrorCode error = U_ZERO_ERROR;
    icu::UnicodeString subject = unicode(text);
    std::unique_ptr<icu::RegexMatcher> matcher(compiled_->pattern->matcher(subject, error));
    if (U_FAILURE(error) || !matcher) throw std::runtime_error("pattern: no matcher");
    // ICU gives "$" and "\" a meaning in replacements; ours are literal.
    icu::UnicodeString literal = unicode(replacement);
    literal.findAndReplace("\\", "\\\\");
    literal.findAndReplace("$", "\\$");
    icu::UnicodeString replaced = matcher->replaceAll(literal, error);
    if (U_FAILURE(error)) throw std::runtime_error(std::string("pattern: ") + u_errorName(error));
    std::string out;
    replaced.toUTF8String(out);
    return out;
}
