// Document versions against raw OpenSSL: Files::version on 1 KiB and on 20 MiB
// against a one-shot EVP_Digest with SHA-256 on the same bytes, the floor any
// hashing of a document pays. Goal: at least 0.9 times the floor's throughput.
//
// Prints the median throughput of each and their ratio.
#include <openssl/evp.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/BenchSupport.hpp"
#include "core/Files.hpp"

namespace {

using Clock = std::chrono::steady_clock;

// The raw floor: OpenSSL's one-shot digest and the 64 hexadecimal digits any
// caller needs to compare versions.
std::string rawVersion(const std::string& bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr);
    static constexpr char digits[] = "0123456789abcdef";
    std::string text(length * 2, '0');
    for (unsigned int i = 0; i < length; ++i) {
        text[2 * i] = digits[digest[i] >> 4];
        text[2 * i + 1] = digits[digest[i] & 0xF];
    }
    return text;
}

void compare(const char* label, std::size_t size, int calls) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 2654435761u) >> 13);
    if (rawVersion(bytes) != Files::version(bytes)) {
        std::printf("%s: the versions differ\n", label);
        return;
    }
    volatile std::size_t sink = 0;
    auto [raw, ours] = alternatingMedians(
        9, calls, [&] { sink = sink + rawVersion(bytes).size(); }, [&] { sink = sink + Files::version(bytes).size(); });
    double mib = static_cast<double>(size) / (1 << 20);
    std::printf("%s raw OpenSSL (floor): %.1f MiB/s\n", label, mib / raw);
    std::printf("%s Files::version:      %.1f MiB/s\n", label, mib / ours);
    std::printf("%s ratio: %.2f x the floor's throughput (goal >= 0.9)\n", label, raw / ours);
}

}  // namespace

int main() {
    compare("1 KiB", 1024, 20000);
    compare("20 MiB", 20 * 1024 * 1024, 3);
    return 0;
}
