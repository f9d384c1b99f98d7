#include "core/DocumentRead.hpp"
#include "core/TestSeams.hpp"

#include <openssl/evp.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Fetched once: looking the algorithm up by name on every hash costs more than
// hashing a small document.
const EVP_MD* sha256() {
    static EVP_MD* const md = EVP_MD_fetch(nullptr, "SHA256", nullptr);
    if (!md) throw std::runtime_error("SHA-256 is not available");
    return md;
}

// One context per thread, reused: reads and version checks hash on several
// threads at once, and a fresh context per hash is an allocation each time.
EVP_MD_CTX* threadContext() {
    struct Owner {
        EVP_MD_CTX* context = EVP_MD_CTX_new();
        ~Owner() { EVP_MD_CTX_free(context); }
    };
    thread_local Owner owner;
    if (!owner.context) throw std::runtime_error("no memory for hashing");
    return owner.context;
}

std::string hex(const unsigned char* bytes, unsigned int count) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string text(count * 2, '0');
    for (unsigned int i = 0; i < count; ++i) {
        text[2 * i] = digits[bytes[i] >> 4];
        text[2 * i + 1] = digits[bytes[i] & 0xF];
    }
    return text;
}

[[noreturn]] void cannotRead(int error) {
    throw BridgeError(500, std::string("could not read the file: ") + std::strerror(error));
}

[[noreturn]] void gone() { throw BridgeError(404, "the file no longer exists"); }

}  // namespace

namespace Files {

std::string version(std::string_view bytes) {
    EVP_MD_CTX* context = threadContext();
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestInit_ex2(context, sha256(), nullptr) != 1 ||
        EVP_DigestUpdate(context, bytes.data(), bytes.size()) != 1 ||
        EVP_DigestFinal_ex(context, digest, &length) != 1) {
        throw std::runtime_error("SHA-256 failed");
    }
    return hex(digest, length);
}

Read ready(const std::string& path, bool keepOpen) { return ready(placeOf(path), keepOpen); }

Read ready(const Place& place, bool keepOpen) {
    if (auto& beforeDisk = testSeams().beforeDisk) beforeDisk(place.path);
    if (place.changed) throw BridgeError(403, changedOnDisk);
    if (!place.folder.isOpen()) {
        // Only "no such entry" means the document is gone. Anything else (no
        // permission on a folder, a loop of links, a failing disk) says nothing
        // about whether it exists, and a save must never take it for absent.
        if (place.error == ENOENT || place.error == ENOTDIR) gone();
        cannotRead(place.error);
    }
    // Without waiting: a pipe named like a document would otherwise hold the
    // read until some writer came. Never through a link at the name: the
    // name was real when the place was made.
    int fd = ::openat(place.folder.fd(), place.name.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR) gone();
        if (errno == ELOOP) throw BridgeError(403, changedOnDisk);
        cannotRead(errno);
    }
    OpenFile file(fd);
    // Type and size from the descriptor itself: what was opened is what is read.
    struct stat status {};
    if (::fstat(fd, &status) != 0) cannotRead(errno);
    if (S_ISDIR(status.st_mode)) gone();
    // A pipe, a device or a socket is no document, and may never end.
    if (!S_ISREG(status.st_mode)) throw BridgeError(404, "not a regular file");
    if (status.st_size > maxBytes) throw BridgeError(413, "file too large");

    // Read to the end rather than trusting the size: the file may be growing.
    // Room for the whole file and a chunk more, so the read that reports the
    // end needs no second buffer; no read goes past the limit and one byte.
    // (The buffer keeps this size, not the limit's: a size just at the
    // allocator's threshold made a 20 MiB save four times slower.)
    constexpr std::size_t chunk = 65536;
    constexpr std::size_t most = static_cast<std::size_t>(maxBytes) + 1;
    std::size_t expected = status.st_size > 0 ? static_cast<std::size_t>(status.st_size) : 0;
    std::string bytes(expected + chunk, '\0');
    std::size_t filled = 0;
    while (filled < most) {
        if (bytes.size() - filled < chunk) bytes.resize(bytes.size() * 2);
        ssize_t count = ::read(fd, bytes.data() + filled, std::min(bytes.size() - filled, most - filled));
        if (count < 0) {
            if (errno == EINTR) continue;
            cannotRead(errno);
        }
        if (count == 0) break;
        filled += static_cast<std::size_t>(count);
    }
    // It grew past the limit while it was read.
    if (filled > static_cast<std::size_t>(maxBytes)) throw BridgeError(413, "file too large");
    if (!keepOpen) file.close();
    bytes.resize(filled);
    std::string digest = version(bytes);
    return {std::move(bytes), std::move(digest), std::move(file)};
}

}  // namespace Files
