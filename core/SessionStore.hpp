#pragma once
// The session: the open folder, the open documents in tab order, the active
// tab and each tab's view, as the page last saved them, kept in
// "session.json" in the support folder so that a later launch can reopen them.
//
// The file is the only state: every load reads it and every save replaces it
// whole. No lock: every caller runs on the bridge's serial io queue.
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "core/JSONFile.hpp"

class SessionStore final {
public:
    // A remembered folder or document.
    struct Doc {
        // Absolute, valid UTF-8.
        std::string path;
        // The item's bookmark in the Base64 form the Bookmarks seam makes and
        // resolves; absent when none was made. Written as "" when absent, and
        // "" reads back as absent (an empty bookmark never resolves anyway).
        std::optional<std::string> bookmark;

        bool operator==(const Doc&) const = default;
    };

    // The page's own record of a tab's view; never interpreted here.
    struct View {
        long long anchor = 0;
        long long head = 0;
        long long top = 0;

        bool operator==(const View&) const = default;

        // The three members of an object, each 0 unless it is an integer.
        static View of(const nlohmann::json& object);
        nlohmann::json json() const;
    };

    struct Saved {
        std::optional<Doc> folder;
        std::vector<Doc> docs;
        // The active tab as the page gave it, not checked against docs.
        long long active = 0;
        // One per tab, in tab order.
        std::vector<View> views;

        bool operator==(const Saved&) const = default;
    };

    // The most tabs a session keeps. A file holding more was not written by
    // us; only the first ones are read, so a damaged file cannot make a
    // restore hand out handles without end.
    static constexpr std::size_t maxTabs = 100;

    // Touches no file.
    explicit SessionStore(std::string path) : file_(std::move(path)) {}

    const std::string& path() const { return file_.path(); }

    // The session in the file, read leniently: nothing unless the file holds an
    // object whose "tabs" is an array of objects; tabs without an absolute
    // UTF-8 "path" are skipped; "active" is 0 unless it is an integer; one
    // view that is not an object of integers empties the views. Never throws
    // for what the file holds.
    std::optional<Saved> load() const;

    // Replaces the file with the session; "folder" is written only when there
    // is one. A failed write is silent and leaves the earlier file whole.
    void save(const Saved& saved) const;

    // A JSON integer that fits a signed 64-bit number; nothing for anything else
    // (fractions, text, numbers past the range).
    static std::optional<long long> integer(const nlohmann::json& value);

private:
    const JSONFile file_;
};
