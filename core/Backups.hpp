#pragma once
// Copies of the version on disk, kept before a save replaces a document whose
// current bytes this process did not write itself, so the user can get back
// what another program (or an earlier session) wrote. Kept keepDays days.
//
// One instance is shared by every save: `written` is guarded by a lock, while
// keep and prune take none (two backups never share a file because each is
// created exclusively; a name collision moves on to the next counter).
#include <chrono>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

class Backups final {
public:
    using Time = std::chrono::system_clock::time_point;

    static constexpr int keepDays = 30;
    // Backups whose name holds a time this much older than now are removed.
    static constexpr std::chrono::seconds keepFor{keepDays * 86400};

    // Touches no file: the folder is made by the first backup.
    explicit Backups(std::string folder) : folder_(std::move(folder)) {}
    Backups(const Backups&) = delete;
    Backups& operator=(const Backups&) = delete;

    const std::string& folder() const { return folder_; }

    // True unless this process last wrote exactly `disk` at `path`.
    bool needsBackup(const std::string& path, const std::string& disk) const;
    std::optional<std::string> lastWritten(const std::string& path) const;
    void wrote(const std::string& path, const std::string& version);

    // Writes the bytes to a new file named after the document and the time, on
    // storage (file and folder flushed) before it returns its path. Every
    // failure is the one refusal below, and leaves no file behind.
    std::string keep(std::string_view bytes, const std::string& name, Time now) const;

    // Removes the backups whose name holds a time more than keepFor before
    // `now`; files that are not backups, folders and links are never touched.
    // Returns how many it removed. Never throws.
    int prune(Time now) const;

    // The backup name of the document `name` made at `at`, with counter n (1
    // leaves no counter in the name); at most 255 bytes.
    static std::string name(const std::string& name, Time at, int n);

private:
    const std::string folder_;
    mutable std::mutex lock_;
    // Document path to the version this process last wrote there; memory only.
    std::map<std::string, std::string> written_;
};

// The one refusal of a failed backup; the save passes it on unchanged.
inline constexpr std::string_view backupFailedMessage =
    "not saved: the previous version could not be kept as a backup, so the file was not replaced. Nothing was "
    "changed.";
