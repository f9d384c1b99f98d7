#pragma once
// Reading the stores' own files leniently: a member of the wrong type counts
// as absent, and a bookmark in any form but the one we write is none.
#include <string>

#include <nlohmann/json.hpp>

namespace StoredJSON {

// The member as text, or nothing when it is absent or not text.
const std::string* stringMember(const nlohmann::json& object, const char* key);

// Base64 in the standard alphabet with padding and no line breaks: the form
// the bookmarks seam makes and the stores write. Text in any other form was
// not written by us and does not decode, so it is no bookmark.
bool isBase64(const std::string& text);

}  // namespace StoredJSON
