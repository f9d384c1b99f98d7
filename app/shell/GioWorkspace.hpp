#pragma once
// Links and folders handed to the desktop's default handlers (the browser, the
// mail program, the file manager), as the user has set them up.
#include "app/bridge/Platform.hpp"

class GioWorkspace final : public Workspace {
public:
    void openURL(const std::string& url) override;
    void openFolder(const std::string& path) override;
};
