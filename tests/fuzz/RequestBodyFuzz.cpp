// The request body reader against bodies handed over whole or streamed in
// pieces of any size, streams that fail part-way, and any declared length.
// The verdict is worked out here independently: a declared length that is a
// plain decimal integer in the 64-bit range must equal the body's size; a
// stream that fails is refused; a stream is opened and closed once; what is
// accepted is exactly the bytes sent.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "core/RequestBody.hpp"
#include "tests/fuzz/support/PieceStream.hpp"
#include "tests/fuzz/support/ScratchFolder.hpp"

namespace {

// The reference reading of a declared length: [+-]digits within int64.
std::optional<long double> plainCount(const std::string& text) {
    std::string digits = text;
    bool negative = false;
    if (!digits.empty() && (digits[0] == '+' || digits[0] == '-')) {
        negative = digits[0] == '-';
        digits.erase(0, 1);
    }
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
    digits.erase(0, std::min(digits.find_first_not_of('0'), digits.size() - 1));
    const std::string limit = negative ? "9223372036854775808" : "9223372036854775807";
    if (digits.size() > limit.size() || (digits.size() == limit.size() && digits > limit)) return std::nullopt;
    long double value = std::stold(digits);
    return negative ? -value : value;
}

bool matches(const std::optional<long double>& count, std::size_t size) {
    return count && *count >= 0 && *count == static_cast<long double>(size);
}

std::string declaredFor(FuzzedDataProvider& input, std::size_t size) {
    switch (input.ConsumeIntegralInRange<int>(0, 5)) {
        case 0: return std::to_string(size);
        case 1: return std::to_string(size + 1);
        case 2: return "+" + std::to_string(size);
        case 3: return "00" + std::to_string(size);
        case 4: return size > 0 ? std::to_string(size - 1) : "-0";
        default: return input.ConsumeRandomLengthString(24);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const int mode = input.ConsumeIntegralInRange<int>(0, 2);  // bytes, stream, neither
    const bool save = input.ConsumeBool();
    const bool hasDeclared = input.ConsumeBool();

    std::vector<std::string> pieces;
    std::optional<std::size_t> failAt;
    std::size_t padding = 0;
    std::string sent;
    if (mode == 1) {
        // Rare choices are the high values: an input that has run out reads as zeros.
        if (input.ConsumeIntegralInRange<int>(0, 15) == 15) failAt = input.ConsumeIntegralInRange<std::size_t>(0, 8);
        // Rarely, enough padding to pass the size limit by a little or a lot.
        if (input.ConsumeIntegralInRange<int>(0, 63) == 63)
            padding = static_cast<std::size_t>(Files::maxBytes) + input.ConsumeIntegralInRange<std::size_t>(0, 70000);
        std::size_t count = input.ConsumeIntegralInRange<std::size_t>(0, 8);
        for (std::size_t i = 0; i < count; ++i) {
            // Non-empty pieces: an empty read is the stream's end.
            std::string piece = input.ConsumeRandomLengthString(200000);
            if (piece.empty()) piece = "a";
            if (input.ConsumeIntegralInRange<int>(0, 7) == 7) piece.resize(65536 + piece.size(), 'p');
            pieces.push_back(piece);
        }
    } else if (mode == 0) {
        sent = input.ConsumeRandomLengthString(100000);
    }

    // The body the reader ought to see, when the stream holds up.
    std::string whole = sent;
    for (const auto& piece : pieces) whole += piece;
    const bool streamFails = failAt && *failAt <= pieces.size();
    const std::size_t wholeSize = whole.size() + (streamFails ? 0 : padding);
    const bool tooLarge = mode == 1 && wholeSize > static_cast<std::size_t>(Files::maxBytes);

    std::optional<std::string> declared;
    if (hasDeclared) declared = declaredFor(input, wholeSize);
    if (streamFails) padding = 0;
    whole.append(padding, 'x');

    auto stream = std::make_shared<PieceStream>(pieces, failAt, padding);
    stream->description = input.ConsumeRandomLengthString(40);
    std::optional<std::string> bytes;
    if (mode == 0) bytes = sent;

    std::optional<std::string> body;
    std::optional<BridgeError> refusal;
    try {
        body = Files::readBody(bytes, mode == 1 ? stream : nullptr, declared);
    } catch (const BridgeError& error) {
        refusal = error;
    }

    if (mode == 1) FUZZ_CHECK(stream->opens == 1 && stream->closes == 1, "the stream is opened and closed once");
    else FUZZ_CHECK(stream->opens == 0, "no stream was given");

    // Streams stop as soon as they fail or pass the limit, before the length is judged.
    if (mode == 1 && (streamFails || tooLarge)) {
        FUZZ_CHECK(refusal.has_value(), "a failed or oversized stream is refused");
        if (streamFails && !tooLarge) FUZZ_CHECK(refusal->status == 400, "a failed stream is a bad request");
        if (tooLarge && !streamFails) FUZZ_CHECK(refusal->status == 413, "an oversized stream is too large");
    } else {
        bool lengthWrong = declared && !declared->empty() && plainCount(*declared) &&
                           !matches(plainCount(*declared), whole.size());
        FUZZ_CHECK(refusal.has_value() == lengthWrong, "only a wrong plain length is refused");
        if (refusal) FUZZ_CHECK(refusal->status == 400, "a wrong length is a bad request");
        if (body) FUZZ_CHECK(*body == whole, "the body arrives exactly as sent");
    }

    if (save && body) {
        bool accepted = declared && matches(plainCount(*declared), body->size());
        bool refused = false;
        try {
            Files::checkSaveBody(*body, declared);
        } catch (const BridgeError& error) {
            refused = error.status == 400;
        }
        FUZZ_CHECK(accepted != refused, "a save needs the exact plain count");
    }
    return 0;
}
