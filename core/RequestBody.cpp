#include "core/RequestBody.hpp"

#include <charconv>
#include <vector>

namespace {

constexpr std::size_t chunkSize = 65536;

const char* const notWhole = "not saved: the text did not arrive whole; nothing was written, try again";

// An optional "+" or "-", then one or more ASCII digits, nothing else, within
// the signed 64-bit range. Anything else (spaces included) is not a count.
std::optional<std::int64_t> decimalInteger(std::string_view text) {
    std::string_view digits = text;
    if (!digits.empty() && (digits[0] == '+' || digits[0] == '-')) digits.remove_prefix(1);
    if (digits.empty()) return std::nullopt;
    for (char c : digits)
        if (c < '0' || c > '9') return std::nullopt;
    // from_chars takes "-" but not "+"; the sign check above already vetted both.
    std::string_view number = text[0] == '+' ? text.substr(1) : text;
    std::int64_t value = 0;
    auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (error != std::errc() || end != number.data() + number.size()) return std::nullopt;
    return value;
}

bool sameCount(std::int64_t count, std::size_t size) {
    return count >= 0 && static_cast<std::uint64_t>(count) == size;
}

std::string readStream(InputStream& stream) {
    stream.open();
    std::string body;
    std::vector<char> buffer(chunkSize);
    // Every way out closes the stream once: the end, a read error, the limit,
    // or an exception from the stream itself.
    try {
        while (true) {
            ssize_t count = stream.read(buffer.data(), buffer.size());
            if (count < 0) {
                std::string description = stream.errorDescription();
                if (description.empty()) description = "stream error";
                throw BridgeError(400, "not saved: the text could not be read (" + description +
                                           "); nothing was written");
            }
            if (count == 0) break;
            body.append(buffer.data(), static_cast<std::size_t>(count));
            // Stop as soon as the limit is passed rather than reading the rest.
            if (body.size() > static_cast<std::size_t>(Files::maxBytes)) throw BridgeError(413, "file too large");
        }
    } catch (...) {
        stream.close();
        throw;
    }
    stream.close();
    return body;
}

}  // namespace

namespace Files {

std::string readBody(std::optional<std::string> bytes, std::shared_ptr<InputStream> stream,
                     std::optional<std::string> declaredLength) {
    std::string body;
    if (bytes) body = std::move(*bytes);
    else if (stream) body = readStream(*stream);

    // A declared length that is not a plain integer says nothing, so it is not checked.
    if (declaredLength && !declaredLength->empty()) {
        if (auto count = decimalInteger(*declaredLength); count && !sameCount(*count, body.size()))
            throw BridgeError(400, notWhole);
    }
    return body;
}

void checkSaveBody(const std::string& body, const std::optional<std::string>& sent) {
    // Unlike readBody, a save without a usable count is refused: the page always sends one.
    if (!sent || sent->empty()) throw BridgeError(400, notWhole);
    auto count = decimalInteger(*sent);
    if (!count || !sameCount(*count, body.size())) throw BridgeError(400, notWhole);
}

}  // namespace Files
