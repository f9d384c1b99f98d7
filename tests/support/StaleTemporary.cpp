#include "tests/support/StaleTemporary.hpp"

#include <fcntl.h>
#include <sys/stat.h>

#include <ctime>
#include <fstream>

#include <gtest/gtest.h>

#include "core/TemporaryNames.hpp"

std::string staleTemporary(const std::string& folder, const std::string& bytes, bool young) {
    std::string path = folder + "/" + TemporaryNames::make();
    std::ofstream(path) << bytes;
    if (!young) {
        timespec times[2];
        times[0].tv_sec = times[1].tv_sec = ::time(nullptr) - 2 * 3600;
        times[0].tv_nsec = times[1].tv_nsec = 0;
        EXPECT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    }
    return path;
}
