#include "app/shell/HeaderArea.hpp"

bool HeaderRect::contains(double px, double py) const {
    // Half-open like the platform's rectangles: the right and bottom edges are outside.
    return width > 0 && height > 0 && px >= x && px < x + width && py >= y && py < y + height;
}

bool HeaderArea::isDragArea(double x, double y) const {
    if (!(y >= 0 && y < height)) return false;
    for (const auto& hole : holes) {
        if (hole.contains(x, y)) return false;
    }
    return true;
}
