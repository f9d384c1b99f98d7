#pragma once
// A request body that arrives piece by piece (the platform hands large bodies
// over this way). Reads follow the POSIX convention: bytes read, 0 at the end,
// negative on error, with errorDescription() telling what went wrong.
#include <cstddef>
#include <string>
#include <sys/types.h>

class InputStream {
public:
    virtual ~InputStream() = default;
    virtual void open() {}
    virtual ssize_t read(char* buffer, size_t capacity) = 0;
    virtual void close() {}
    // Empty when the stream has nothing to say about its failure.
    virtual std::string errorDescription() const { return {}; }
};
