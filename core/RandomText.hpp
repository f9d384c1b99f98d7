#pragma once
// Random names and tokens from the system's cryptographic generator: nobody
// can guess them, so no other program can take one first or forge one.
#include <string>

// A version-4 UUID in its usual upper-case text form
// ("8-4-4-4-12" hexadecimal digits). Throws std::runtime_error when the
// generator has no random bytes to give.
std::string randomUUID();
