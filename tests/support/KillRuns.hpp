#pragma once
// What the kill tests take from the environment: a seed to replay a run whose
// failure printed it (QUILLMARSH_CRASH_SEED), and the kills per route
// (QUILLMARSH_CRASH_KILLS, as scripts/crash.sh sets it).
#include <cstdlib>
#include <initializer_list>
#include <random>

// The first of `names` that is set, else a fresh random seed.
inline unsigned long long killSeed(std::initializer_list<const char*> names = {"QUILLMARSH_CRASH_SEED"}) {
    for (const char* name : names) {
        if (const char* given = std::getenv(name)) return std::strtoull(given, nullptr, 10);
    }
    return std::random_device{}();
}

// The kills asked for, else the test's own count.
inline int killCount(int standard) {
    const char* given = std::getenv("QUILLMARSH_CRASH_KILLS");
    int kills = given ? std::atoi(given) : 0;
    return kills > 0 ? kills : standard;
}
