#pragma once
// The page's own title-bar strip: a band at the top of the web view where a
// press moves the window, except inside the holes the page keeps for its
// buttons and tabs. Coordinates are the view's, origin top-left, y downwards.
#include <vector>

struct HeaderRect {
    double x = 0, y = 0, width = 0, height = 0;
    bool contains(double px, double py) const;
    bool operator==(const HeaderRect&) const = default;
};

struct HeaderArea {
    static constexpr double maxHeight = 120;
    static constexpr std::size_t maxHoles = 64;

    double height = 0;
    std::vector<HeaderRect> holes;

    // Whether a press at (x, y) belongs to the window (drag, double-click zoom)
    // rather than to the page.
    bool isDragArea(double x, double y) const;
};
