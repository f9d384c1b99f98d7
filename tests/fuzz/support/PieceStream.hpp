#pragma once
// A request body handed out in pieces, as the platform hands large bodies
// over: each read gives (at most) one piece; after `failAt` whole pieces a
// read fails; `padding` bytes of 'x' follow the pieces in whole capacities
// (to pass a size limit cheaply). Reads outside open and close are a finding.
#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "core/InputStream.hpp"
#include "tests/fuzz/support/ScratchFolder.hpp"

class PieceStream final : public InputStream {
public:
    PieceStream(std::vector<std::string> pieces, std::optional<std::size_t> failAt, std::size_t padding = 0)
        : pieces_(std::move(pieces)), failAt_(failAt), padding_(padding) {}

    void open() override { ++opens; }
    void close() override { ++closes; }
    ssize_t read(char* buffer, size_t capacity) override {
        FUZZ_CHECK(opens == 1 && closes == 0, "read outside open and close");
        FUZZ_CHECK(capacity > 0, "read with no room");
        if (failAt_ && served_ == *failAt_) return -1;
        if (next_ < pieces_.size()) {
            std::string& piece = pieces_[next_];
            // An empty piece reads as the end: the reader stops there.
            std::size_t count = std::min(capacity, piece.size() - offset_);
            std::memcpy(buffer, piece.data() + offset_, count);
            offset_ += count;
            if (offset_ == piece.size()) {
                ++next_;
                ++served_;
                offset_ = 0;
            }
            return static_cast<ssize_t>(count);
        }
        std::size_t count = std::min(capacity, padding_);
        std::memset(buffer, 'x', count);
        padding_ -= count;
        return static_cast<ssize_t>(count);
    }
    std::string errorDescription() const override { return description; }

    std::string description;
    int opens = 0;
    int closes = 0;

private:
    std::vector<std::string> pieces_;
    std::optional<std::size_t> failAt_;
    std::size_t padding_;
    std::size_t next_ = 0;
    std::size_t offset_ = 0;
    std::size_t served_ = 0;
};
