// The remembered window frame: what comes back, and what a damaged file gives.
#include "app/shell/WindowFrame.hpp"

#include <gtest/gtest.h>

#include "tests/support/TempDir.hpp"

namespace {

TEST(WindowFrame, ComesBackAsSaved) {
    TempDir dir;
    std::string path = dir / "state/Quillmarsh/window.json";
    WindowFrame frame;
    frame.width = 900;
    frame.height = 600;
    frame.x = -20;
    frame.y = 35;
    frame.save(path);
    auto loaded = WindowFrame::load(path);
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->width, 900);
    EXPECT_EQ(loaded->height, 600);
    EXPECT_EQ(loaded->x, -20);
    EXPECT_EQ(loaded->y, 35);
}

TEST(WindowFrame, DamagedOrPartialFilesGiveNothingOrTheSafeParts) {
    TempDir dir;
    EXPECT_FALSE(WindowFrame::load(dir / "missing.json"));
    EXPECT_FALSE(WindowFrame::load(dir.write("text.json", "not json")));
    EXPECT_FALSE(WindowFrame::load(dir.write("array.json", "[1, 2]")));
    EXPECT_FALSE(WindowFrame::load(dir.write("noheight.json", R"({"width": 900})")));
    EXPECT_FALSE(WindowFrame::load(dir.write("text-size.json", R"({"width": "900", "height": 600})")));
    EXPECT_FALSE(WindowFrame::load(dir.write("huge.json", R"({"width": 9000000, "height": 600})")));

    // A window smaller than the minimum could not be used: it opens at the minimum.
    auto small = WindowFrame::load(dir.write("small.json", R"({"width": 10, "height": -5, "x": 3})"));
    ASSERT_TRUE(small);
    EXPECT_EQ(small->width, WindowFrame::minWidth);
    EXPECT_EQ(small->height, WindowFrame::minHeight);
    EXPECT_FALSE(small->x);  // half a position is no position
    EXPECT_FALSE(small->y);
}

}  // namespace
