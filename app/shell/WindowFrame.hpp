#pragma once
// The window's size and position, remembered across launches: GTK 4 keeps
// neither, so the program stores them itself. Losing them only means the
// window opens at its default size, so every failure gives nothing.
#include <optional>
#include <string>

struct WindowFrame {
    static constexpr int defaultWidth = 1280;
    static constexpr int defaultHeight = 820;
    static constexpr int minWidth = 720;
    static constexpr int minHeight = 480;

    int width = defaultWidth;
    int height = defaultHeight;
    // Top-left corner on the screen; unknown where the desktop does not tell.
    std::optional<int> x;
    std::optional<int> y;

    // The frame stored at `path`, sizes raised to the minimum; nothing when the
    // file is missing or damaged.
    static std::optional<WindowFrame> load(const std::string& path);
    void save(const std::string& path) const;

    // Where the frame is kept: the user's state folder, beside the log.
    static std::string defaultPath();
};
