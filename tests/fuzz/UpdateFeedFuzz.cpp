// The update feed as any server (or anyone between it and us) may send it.
// What is believed must hold exactly the forms the check promises, with no
// stray line break, and say the same when written out and read again. The
// version comparison is fed the same text: it must order, never crash.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <string>

#include <nlohmann/json.hpp>

#include "core/Characters.hpp"
#include "core/UpdateCheck.hpp"
#include "tests/fuzz/support/ScratchFolder.hpp"

namespace {

bool onlyOf(const std::string& text, const char* allowed) {
    return text.find_first_not_of(allowed) == std::string::npos;
}

// Numbers of 1 to `digits` digits, `least` to `most` of them, joined by dots.
bool dottedNumbers(const std::string& text, std::size_t least, std::size_t most, std::size_t digits) {
    std::size_t count = 0;
    std::size_t start = 0;
    while (true) {
        std::size_t dot = text.find('.', start);
        std::string piece = text.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
        if (piece.empty() || piece.size() > digits || !onlyOf(piece, "0123456789")) return false;
        ++count;
        if (dot == std::string::npos) break;
        start = dot + 1;
    }
    return count >= least && count <= most;
}

void checkBelieved(const UpdateInfo& info) {
    FUZZ_CHECK(dottedNumbers(info.version, 3, 3, 4), "version " + info.version);
    const std::string& file = info.file;
    FUZZ_CHECK(file.size() > 4 && file.size() <= 104 && file.substr(file.size() - 4) == ".dmg" &&
                   onlyOf(file.substr(0, file.size() - 4),
                          "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789._-"),
               "file " + file);
    FUZZ_CHECK(info.sha256.size() == 64 && onlyOf(info.sha256, "0123456789abcdef"), "digest " + info.sha256);
    FUZZ_CHECK(dottedNumbers(info.minMacOS, 1, 3, 3), "minimum " + info.minMacOS);
    if (info.notes) FUZZ_CHECK(Characters::count(*info.notes) <= 1000, "notes are bounded");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    auto info = UpdateCheck::parse(bytes);
    if (info) {
        FUZZ_CHECK(size <= UpdateCheck::maxBytes, "an oversized feed is not believed");
        checkBelieved(*info);
        nlohmann::json again = {{"version", info->version},
                                {"file", info->file},
                                {"sha256", info->sha256},
                                {"min_macos", info->minMacOS}};
        if (info->notes) again["notes"] = *info->notes;
        auto reread = UpdateCheck::parse(again.dump());
        FUZZ_CHECK(reread && *reread == *info, "a believed feed reads back the same");
    }

    // The comparison of two versions taken from the same bytes.
    FuzzedDataProvider input(data, size);
    std::string a = input.ConsumeRandomLengthString(64);
    std::string b = input.ConsumeRandomLengthString(64);
    FUZZ_CHECK(!UpdateCheck::isNewer(a, a), "no version is newer than itself");
    FUZZ_CHECK(!(UpdateCheck::isNewer(a, b) && UpdateCheck::isNewer(b, a)), "newer is one way only");
    UpdateCheck::SystemVersion running{input.ConsumeIntegral<std::int64_t>(), input.ConsumeIntegral<std::int64_t>(),
                                       input.ConsumeIntegral<std::int64_t>()};
    UpdateCheck::macOSAtLeast(a, running);
    if (UpdateCheck::macOSAtLeast(a, {0, 0, 0})) {
        FUZZ_CHECK(UpdateCheck::macOSAtLeast(a, {INT64_MAX, INT64_MAX, INT64_MAX}),
                   "a system that fits the oldest fits every newer");
    }
    return 0;
}
