// Document versions against raw OpenSSL: Files::version on 1 KiB and on 20 MiB
// against a one-shot EVP_Digest with SHA-256 on the same bytes, the floor any
// hashing of a document pays. Goal: at least 0.9 times the floor's throughput,
// at each size.
//
// Both run in this process with no queue or wake-up in between, so there is
// no fixed cost of another kind to set apart: the ratio at each size holds
// across machines as it is.
#include <openssl/evp.h>

#include <cstdio>
#include <string>

#include "bench/support/BenchSupport.hpp"
#include "core/Files.hpp"

namespace {

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

void compare(bench::Goals& goals, const std::string& label, std::size_t size, int calls) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 2654435761u) >> 13);
    goals.holds("version_hash " + label + " same digest", rawVersion(bytes) == Files::version(bytes),
                rawVersion(bytes) == Files::version(bytes) ? "same" : "the versions differ");
    volatile std::size_t sink = 0;
    auto medians = bench::alternatingMedians(
        9, {{[&] { sink = sink + rawVersion(bytes).size(); }, calls},
            {[&] { sink = sink + Files::version(bytes).size(); }, calls}});
    double raw = medians[0];
    double ours = medians[1];
    double mib = static_cast<double>(size) / (1 << 20);
    std::printf("%s raw OpenSSL (floor): %.1f MiB/s\n", label.c_str(), mib / raw);
    std::printf("%s Files::version:      %.1f MiB/s\n", label.c_str(), mib / ours);
    goals.atLeast("version_hash " + label + " throughput", raw / ours, 0.9, "x the floor's");
}

}  // namespace

int main() {
    bench::Goals goals;
    compare(goals, "1 KiB", 1024, 20000);
    compare(goals, "20 MiB", 20 * 1024 * 1024, 3);
    return goals.exitCode();
}
