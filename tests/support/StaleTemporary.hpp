#pragma once
// A temporary file of ours, as a killed writer leaves it in `folder`: old
// enough for the sweep of stale temporaries unless `young`.
#include <string>

std::string staleTemporary(const std::string& folder, const std::string& bytes, bool young = false);
