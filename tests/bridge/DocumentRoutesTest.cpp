#include <gtest/gtest.h>

#include "tests/support/BridgeHarness.hpp"

namespace {

// Handles are registered on io, where every caller runs.
std::string handleOn(Bridge& bridge, const std::string& path) {
    std::string handle;
    bridge.io.sync([&] { handle = bridge.handle(path); });
    return handle;
}

TEST(Handles, samePathSameHandleNextPathNextNumber) {
    BridgeHarness h;
    EXPECT_EQ(handleOn(*h.bridge, "/elsewhere/a.md"), "f1");
    EXPECT_EQ(handleOn(*h.bridge, "/elsewhere/b.md"), "f2");
    EXPECT_EQ(handleOn(*h.bridge, "/elsewhere/a.md"), "f1");
    // Another spelling of the same file is another document to the handles.
    EXPECT_EQ(handleOn(*h.bridge, "/elsewhere/./a.md"), "f3");
    EXPECT_EQ(h.bridge->picked.at("f2"), "/elsewhere/b.md");
}

}  // namespace
