#include "app/shell/Characters.hpp"

#include <unicode/brkiter.h>
#include <unicode/unistr.h>

#include <memory>

namespace {

// Calls `visit` with the UTF-16 offset after each character until it answers false.
template <typename Visit>
void eachBoundary(const icu::UnicodeString& text, Visit visit) {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> breaks(icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    if (U_FAILURE(status) || !breaks) {
        // Without break rules, code points are the closest unit there is.
        for (int32_t at = 0; at < text.length();) {
            at = text.moveIndex32(at, 1);
            if (!visit(at)) return;
        }
        return;
    }
    breaks->setText(text);
    breaks->first();
    for (int32_t at = breaks->next(); at != icu::BreakIterator::DONE; at = breaks->next()) {
        if (!visit(at)) return;
    }
}

icu::UnicodeString unicode(std::string_view text) {
    return icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
}

}  // namespace

namespace Characters {

std::size_t count(std::string_view text) {
    std::size_t characters = 0;
    eachBoundary(unicode(text), [&](int32_t) {
        ++characters;
        return true;
    });
    return characters;
}

std::string prefix(std::string_view text, std::size_t limit) {
    icu::UnicodeString whole = unicode(text);
    std::size_t taken = 0;
    int32_t end = whole.length();
    if (limit == 0) end = 0;
    else eachBoundary(whole, [&](int32_t at) {
            if (++taken < limit) return true;
            end = at;
            return false;
        });
    if (end >= whole.length()) return std::string(text);
    std::string out;
    whole.tempSubString(0, end).toUTF8String(out);
    return out;
}

}  // namespace Characters
