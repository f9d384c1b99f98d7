#pragma once
#include <string>

// The application's display name, fixed when the program is built.
const std::string& appName();
