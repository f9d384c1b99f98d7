#pragma once
// The pure rules of the update check: where the feed and the tools page are,
// what a feed must hold to be believed, how versions compare, and when an
// automatic check is due. No network and no files here: the fetch is
// UpdateFetcher, the stored state belongs to the update routes.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

// One acceptable feed entry.
struct UpdateInfo {
    std::string version;
    // The disk image of that version, for the other desktop platform's users.
    std::string file;
    std::string sha256;
    // The lowest system version of the other desktop platform it runs on.
    std::string minMacOS;
    std::optional<std::string> notes;

    bool operator==(const UpdateInfo&) const = default;
};

// The outcome of one check: exactly one of the three.
class UpdateResult {
public:
    struct Current {
        // The feed's version.
        std::string version;
        bool operator==(const Current&) const = default;
    };
    struct Newer {
        UpdateInfo info;
        bool operator==(const Newer&) const = default;
    };
    struct Failed {
        // A short reason meant for the user.
        std::string reason;
        bool operator==(const Failed&) const = default;
    };

    static UpdateResult current(std::string version) { return UpdateResult(Current{std::move(version)}); }
    static UpdateResult newer(UpdateInfo info) { return UpdateResult(Newer{std::move(info)}); }
    static UpdateResult failed(std::string reason) { return UpdateResult(Failed{std::move(reason)}); }

    const std::variant<Current, Newer, Failed>& value() const { return value_; }
    bool operator==(const UpdateResult&) const = default;

private:
    explicit UpdateResult(std::variant<Current, Newer, Failed> value) : value_(std::move(value)) {}
    std::variant<Current, Newer, Failed> value_;
};

// For test failure messages: the case and its payload.
std::ostream& operator<<(std::ostream& out, const UpdateResult& result);

namespace UpdateCheck {

// The hosts lie under the reserved ".example" domain until a real server exists.
inline constexpr std::string_view feed = "https://updates.quillmarsh.example/quill-marsh/version.json";
inline constexpr std::string_view page = "https://quillmarsh.example/quillmarsh";
// The largest feed accepted, in bytes.
inline constexpr std::size_t maxBytes = 16384;
// The whole fetch, connection included.
inline constexpr std::chrono::seconds timeout{5};
// Between automatic checks.
inline constexpr std::chrono::seconds interval{86400};

// Seconds since 1970, with fraction: the form the time of the last check is stored in.
using Seconds = std::chrono::duration<double>;

struct SystemVersion {
    std::int64_t major = 0;
    std::int64_t minor = 0;
    std::int64_t patch = 0;
};

// The feed's entry, or nothing when the feed is not acceptable.
std::optional<UpdateInfo> parse(std::string_view bytes);

// Whether version `a` is numerically greater than `than` (1.10.0 > 1.9.9;
// 1.2 and 1.2.0 are equal).
bool isNewer(std::string_view a, std::string_view than);

// Whether the running system is at least `min` (its first three numbers;
// an empty minimum always fits).
bool macOSAtLeast(std::string_view min, SystemVersion running);

// Whether an automatic check is due: never checked, a day or more ago, or a
// last check in the future (the clock was set back).
bool dueOnOpen(std::optional<Seconds> last, Seconds now);

}  // namespace UpdateCheck
