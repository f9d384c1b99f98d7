#include "core/Characters.hpp"

#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/unistr.h>
#include <unicode/utext.h>

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
    // In ASCII text every byte is a character of its own except that a line
    // break written as CR LF is one: no other rule of the break iterator can
    // join two ASCII characters. The common case thus skips ICU, which for a
    // listing of large recovered texts costs more than reading them did.
    std::size_t crlf = 0;
    bool ascii = true;
    for (std::size_t i = 0; i < text.size() && ascii; ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        ascii = c < 0x80;
        if (c == '\n' && i > 0 && text[i - 1] == '\r') ++crlf;
    }
    if (ascii) return text.size() - crlf;

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

std::string prefixWithinBytes(std::string_view text, std::size_t maxBytes) {
    if (text.size() <= maxBytes) return std::string(text);
    UErrorCode status = U_ZERO_ERROR;
    UText* utext = utext_openUTF8(nullptr, text.data(), static_cast<int64_t>(text.size()), &status);
    std::unique_ptr<icu::BreakIterator> characters(
        icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    std::size_t cut = 0;
    if (U_SUCCESS(status)) {
        characters->setText(utext, status);
        // Native indexes of a UTF-8 text are byte offsets.
        for (int32_t at = characters->first(); at != icu::BreakIterator::DONE && U_SUCCESS(status);
             at = characters->next()) {
            if (static_cast<std::size_t>(at) > maxBytes) break;
            cut = static_cast<std::size_t>(at);
        }
    }
    utext_close(utext);
    return std::string(text.substr(0, cut));
}

std::string lowerCased(std::string_view text) {
    bool ascii = true;
    for (unsigned char c : text) ascii = ascii && c < 0x80;
    std::string lower;
    if (ascii) {
        // ASCII letters lower-case to ASCII letters and nothing else changes,
        // so the common case skips ICU.
        lower = text;
        for (char& c : lower)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        return lower;
    }
    unicode(text).toLower(icu::Locale::getRoot()).toUTF8String(lower);
    return lower;
}

}  // namespace Characters
