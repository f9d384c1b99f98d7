// Request body reader: readBody and checkSaveBody against a fake stream.
#include "core/RequestBody.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include "tests/support/Refusal.hpp"

namespace {

const std::string notWholeMessage = "not saved: the text did not arrive whole; nothing was written, try again";

// A stream that hands out `total` bytes (or endlessly many) in pieces of at
// most `piece`, optionally failing after `failAfter` reads, and records how it
// was used.
class FakeStream : public InputStream {
public:
    explicit FakeStream(std::string bytes, size_t piece = 65536) : bytes_(std::move(bytes)), piece_(piece) {}

    static std::shared_ptr<FakeStream> endless() {
        auto stream = std::make_shared<FakeStream>("");
        stream->endless_ = true;
        return stream;
    }

    void open() override { ++opens; }
    void close() override { ++closes; }
    ssize_t read(char* buffer, size_t capacity) override {
        EXPECT_EQ(opens, 1) << "read before open";
        EXPECT_EQ(closes, 0) << "read after close";
        ++reads;
        largestCapacity = std::max(largestCapacity, capacity);
        if (failAfter && reads > *failAfter) return -1;
        size_t count = std::min(capacity, piece_);
        if (endless_) {
            std::memset(buffer, 'x', count);
            return static_cast<ssize_t>(count);
        }
        count = std::min(count, bytes_.size() - offset_);
        std::memcpy(buffer, bytes_.data() + offset_, count);
        offset_ += count;
        return static_cast<ssize_t>(count);
    }
    std::string errorDescription() const override { return description; }

    std::optional<int> failAfter;
    std::string description;
    int opens = 0, closes = 0, reads = 0;
    size_t largestCapacity = 0;

private:
    std::string bytes_;
    size_t piece_;
    size_t offset_ = 0;
    bool endless_ = false;
};


}  // namespace

// --- declared length --------------------------------------------------------------

struct LengthCase {
    std::optional<std::string> declared;
    std::string body;
    bool accepted;
};

class ReadBodyLength : public testing::TestWithParam<LengthCase> {};

TEST_P(ReadBodyLength, ChecksOnlyDecimalIntegers) {
    const auto& c = GetParam();
    for (bool streamed : {false, true}) {
        auto stream = std::make_shared<FakeStream>(c.body, 5);
        auto error = refusal([&] {
            auto body = streamed ? Files::readBody(std::nullopt, stream, c.declared)
                                 : Files::readBody(c.body, nullptr, c.declared);
            EXPECT_EQ(body, c.body);
        });
        if (c.accepted) {
            EXPECT_FALSE(error) << c.declared.value_or("(none)") << (streamed ? " streamed" : "");
        } else {
            ASSERT_TRUE(error) << c.declared.value_or("(none)");
            EXPECT_EQ(*error, BridgeError(400, notWholeMessage));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Table, ReadBodyLength, testing::Values(
    LengthCase{"12", "hello, world", true},
    LengthCase{"13", "hello, world", false},
    LengthCase{"11", "hello, world", false},
    LengthCase{"+12", "hello, world", true},
    LengthCase{"012", "hello, world", true},
    LengthCase{"-12", "hello, world", false},
    LengthCase{"abc", "hello, world", true},          // not an integer: not checked
    LengthCase{" 12", "hello, world", true},
    LengthCase{"12 ", "hello, world", true},
    LengthCase{"1 2", "hello, world", true},
    LengthCase{"+", "hello, world", true},
    LengthCase{"-", "hello, world", true},
    LengthCase{"+-12", "hello, world", true},
    LengthCase{"0x0c", "hello, world", true},
    LengthCase{"12.0", "hello, world", true},
    LengthCase{"\xD9\xA1\xD9\xA2", "hello, world", true},  // Arabic-Indic "12": not ASCII digits
    LengthCase{"", "hello, world", true},             // empty: not checked
    LengthCase{std::nullopt, "hello, world", true},
    LengthCase{"9223372036854775807", "hello, world", false},   // in range: checked, differs
    LengthCase{"-9223372036854775808", "hello, world", false},
    LengthCase{"9223372036854775808", "hello, world", true},    // past the range: ignored
    LengthCase{"-9223372036854775809", "hello, world", true},
    LengthCase{"99999999999999999999999", "hello, world", true},
    LengthCase{"0", "", true},
    LengthCase{"-0", "", true},
    LengthCase{"5", "", false},
    LengthCase{"3", "\xC3\xA9t\xC3\xA9", false},      // bytes, not characters
    LengthCase{"5", "\xC3\xA9t\xC3\xA9", true}));

// --- where the body comes from ----------------------------------------------------

TEST(ReadBody, NoBytesAndNoStreamIsEmpty) {
    EXPECT_EQ(Files::readBody(std::nullopt, nullptr, std::nullopt), "");
    EXPECT_EQ(Files::readBody(std::nullopt, nullptr, std::string("0")), "");
    EXPECT_EQ(refusal([] { Files::readBody(std::nullopt, nullptr, std::string("5")); }),
              BridgeError(400, notWholeMessage));
}

TEST(ReadBody, BytesWinOverAStream) {
    auto stream = std::make_shared<FakeStream>("from the stream");
    EXPECT_EQ(Files::readBody(std::string("direct"), stream, std::nullopt), "direct");
    EXPECT_EQ(stream->opens, 0);
    EXPECT_EQ(stream->reads, 0);
}

TEST(ReadBody, DirectBytesAreNotSizeChecked) {
    std::string big(static_cast<size_t>(Files::maxBytes) + 1, 'a');
    EXPECT_EQ(Files::readBody(big, nullptr, std::nullopt).size(), big.size());
}

TEST(ReadBody, AStreamIsReadWholeIn64KiBChunksAndClosedOnce) {
    std::string text(200000, '\0');
    for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char>(i * 7);  // binary, NULs included
    auto stream = std::make_shared<FakeStream>(text, 1 << 20);
    EXPECT_EQ(Files::readBody(std::nullopt, stream, std::to_string(text.size())), text);
    EXPECT_EQ(stream->largestCapacity, 65536u);
    EXPECT_EQ(stream->reads, 5);  // 4 chunks (3 full, 1 partial) and the end
    EXPECT_EQ(stream->opens, 1);
    EXPECT_EQ(stream->closes, 1);
}

TEST(ReadBody, ShortReadsAddUp) {
    auto stream = std::make_shared<FakeStream>("a body in small pieces", 3);
    EXPECT_EQ(Files::readBody(std::nullopt, stream, std::string("22")), "a body in small pieces");
    EXPECT_EQ(stream->closes, 1);
}

TEST(ReadBody, AStreamOfExactlyTheLimitPasses) {
    auto stream = std::make_shared<FakeStream>(std::string(static_cast<size_t>(Files::maxBytes), 'm'));
    EXPECT_EQ(Files::readBody(std::nullopt, stream, std::nullopt).size(), static_cast<size_t>(Files::maxBytes));
    EXPECT_EQ(stream->closes, 1);
}

TEST(ReadBody, AStreamOneBytePastTheLimitIsTooLarge) {
    auto stream = std::make_shared<FakeStream>(std::string(static_cast<size_t>(Files::maxBytes) + 1, 'm'));
    EXPECT_EQ(refusal([&] { Files::readBody(std::nullopt, stream, std::nullopt); }), BridgeError(413, "file too large"));
    EXPECT_EQ(stream->closes, 1);
}

TEST(ReadBody, AnEndlessStreamStopsAsSoonAsItPassesTheLimit) {
    auto stream = FakeStream::endless();
    // The declared length would match nothing; the size refusal comes first.
    EXPECT_EQ(refusal([&] { Files::readBody(std::nullopt, stream, std::string("1")); }),
              BridgeError(413, "file too large"));
    EXPECT_EQ(stream->reads, 20971520 / 65536 + 1);  // the first chunk past the limit
    EXPECT_EQ(stream->closes, 1);
}

TEST(ReadBody, AStreamErrorIsRefusedWithItsDescription) {
    auto stream = std::make_shared<FakeStream>(std::string(300000, 'a'));
    stream->failAfter = 2;
    stream->description = "The network connection was lost.";
    EXPECT_EQ(refusal([&] { Files::readBody(std::nullopt, stream, std::nullopt); }),
              BridgeError(400, "not saved: the text could not be read (The network connection was lost.); "
                               "nothing was written"));
    EXPECT_EQ(stream->reads, 3);
    EXPECT_EQ(stream->closes, 1);
}

TEST(ReadBody, AStreamErrorWithoutADescriptionSaysStreamError) {
    auto stream = std::make_shared<FakeStream>("abc");
    stream->failAfter = 0;
    EXPECT_EQ(refusal([&] { Files::readBody(std::nullopt, stream, std::string("3")); }),
              BridgeError(400, "not saved: the text could not be read (stream error); nothing was written"));
    EXPECT_EQ(stream->closes, 1);
}

TEST(ReadBody, AStreamThatThrowsIsClosedToo) {
    struct Throwing : FakeStream {
        Throwing() : FakeStream("") {}
        ssize_t read(char*, size_t) override { throw std::runtime_error("boom"); }
    };
    auto stream = std::make_shared<Throwing>();
    EXPECT_THROW(Files::readBody(std::nullopt, stream, std::nullopt), std::runtime_error);
    EXPECT_EQ(stream->closes, 1);
}

// --- checkSaveBody ---------------------------------------------------------------

struct SentCase {
    std::optional<std::string> sent;
    std::string body;
    bool accepted;
};

class CheckSaveBody : public testing::TestWithParam<SentCase> {};

TEST_P(CheckSaveBody, NeedsAMatchingDecimalCount) {
    const auto& c = GetParam();
    auto error = refusal([&] { Files::checkSaveBody(c.body, c.sent); });
    if (c.accepted) {
        EXPECT_FALSE(error) << c.sent.value_or("(none)");
    } else {
        ASSERT_TRUE(error) << c.sent.value_or("(none)");
        EXPECT_EQ(*error, BridgeError(400, notWholeMessage));
    }
}

INSTANTIATE_TEST_SUITE_P(Table, CheckSaveBody, testing::Values(
    SentCase{"12", "hello, world", true},
    SentCase{"+12", "hello, world", true},
    SentCase{"0012", "hello, world", true},
    SentCase{"0", "", true},
    SentCase{"-0", "", true},
    SentCase{"5", "\xC3\xA9t\xC3\xA9", true},
    SentCase{"13", "hello, world", false},
    SentCase{"-12", "hello, world", false},
    SentCase{std::nullopt, "hello, world", false},  // unlike readBody, missing is a refusal
    SentCase{std::nullopt, "", false},
    SentCase{"", "", false},
    SentCase{"abc", "hello, world", false},
    SentCase{" 12", "hello, world", false},
    SentCase{"12 ", "hello, world", false},
    SentCase{"+", "", false},
    SentCase{"9223372036854775808", "hello, world", false},
    SentCase{"4", "\xC3\xA9t\xC3\xA9", false}));
