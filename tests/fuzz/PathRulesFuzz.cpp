// The path rules against any path the page may send, on a real folder with
// links that lead out of it, around in loops, and into hidden and secret
// places. Whatever is accepted must lie inside the open folder when the
// system follows it, and hold no private part; the batch look-up must agree
// with the single one.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/BridgeError.hpp"
#include "core/PathRules.hpp"
#include "tests/fuzz/support/NameText.hpp"
#include "tests/fuzz/support/ScratchFolder.hpp"

namespace fs = std::filesystem;

namespace {

struct Fixture {
    ScratchFolder scratch;
    std::string open;
    std::string realOpen;
    std::vector<std::string> folderForms;

    Fixture() {
        scratch.write("outside/secret.md", "outside");
        scratch.write("open-sibling/a.md", "sibling");
        scratch.write("open/notes/plan.md", "plan");
        scratch.write("open/.notes/kept.md", "hidden folder, allowed");
        scratch.write("open/.ssh/key.md", "secret");
        scratch.write("open/.config/gcloud/token.md", "secret");
        scratch.write("open/.hidden.md", "hidden file");
        scratch.makeFolder("open/empty");
        scratch.link("open/up", "..");
        scratch.link("open/out", scratch / "outside");
        scratch.link("open/root", "/");
        scratch.link("open/self", ".");
        scratch.link("open/loop1", "loop2");
        scratch.link("open/loop2", "loop1");
        scratch.link("open/tossh", ".ssh");
        scratch.link("open/cfg", ".config");
        scratch.link("open/hiddenfile.md", ".hidden.md");
        scratch.link("open/sibling", "../open-sibling");
        scratch.link("open/deep", "notes/../../outside");
        scratch.link("open/ghost", "missing/../../outside");
        scratch.link("open/notes/back.md", "../../outside/secret.md");
        scratch.link("open/notes/plan-link.md", "plan.md");
        scratch.link("open/dangling.md", "nowhere/../../../outside/secret.md");
        scratch.link("openlink", "open");
        open = scratch / "open";
        realOpen = fs::canonical(open).string();
        folderForms = {open, open + "/", open + "//", scratch / "openlink", scratch / "open/notes/..",
                       scratch / "open/self"};
    }
};

Fixture& fixture() {
    static Fixture made;
    return made;
}

std::vector<std::string> parts(const std::string& path) {
    std::vector<std::string> found;
    std::size_t start = 0;
    while (true) {
        std::size_t slash = path.find('/', start);
        found.push_back(path.substr(start, slash == std::string::npos ? std::string::npos : slash - start));
        if (slash == std::string::npos) return found;
        start = slash + 1;
    }
}

// What may never be reached, worked out from the names below the folder.
std::optional<std::string> privatePart(const std::string& inside) {
    static const std::vector<std::string> secret = {
        ".ssh", ".gnupg", ".aws", ".azure", ".kube", ".docker", ".git", ".password-store",
        ".trash", ".spotlight-v100", ".fseventsd", ".documentrevisions-v100", ".temporaryitems"};
    auto names = parts(inside);
    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::string& name = names[i];
        if (name.empty() || name == "." || name == "..") return "an empty, '.' or '..' part";
        if (name[0] != '.') continue;
        if (!isASCII(name)) return "a hidden non-ASCII name";
        if (i + 1 == names.size()) return "a hidden file";
        if (std::find(secret.begin(), secret.end(), lower(name)) != secret.end()) return "a secret folder";
        if (lower(name) == ".config" && (lower(names[i + 1]) == "gcloud" || !isASCII(names[i + 1])))
            return "a secret folder";
    }
    return std::nullopt;
}

bool below(const std::string& path, const std::string& folder) {
    return path.size() > folder.size() + 1 && path.compare(0, folder.size(), folder) == 0 &&
           path[folder.size()] == '/';
}

template <typename F>
std::optional<std::string> accepted(F&& call, std::optional<int>* status = nullptr) {
    try {
        return call();
    } catch (const BridgeError& error) {
        FUZZ_CHECK(error.status == 400 || error.status == 403, "refusals are 400 or 403: " + error.message);
        if (status) *status = error.status;
        return std::nullopt;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Fixture& f = fixture();
    FuzzedDataProvider input(data, size);
    std::optional<std::string> folder;
    std::size_t form = input.ConsumeIntegralInRange<std::size_t>(0, f.folderForms.size());
    if (form < f.folderForms.size()) folder = f.folderForms[form];
    const std::string path = input.ConsumeRemainingBytesAsString();

    auto lexical = accepted([&] { return Files::lexical(path, folder); });
    std::optional<int> refusedWith;
    auto resolved = accepted([&] { return Files::resolve(path, folder); }, &refusedWith);
    std::optional<int> batchRefusedWith;
    Files::LinkCache links;
    std::string batchFolder;
    auto batch = accepted([&] { return Files::resolve(path, folder, &links, &batchFolder); }, &batchRefusedWith);
    // Any text at all, absolute or not, is walked without a crash.
    accepted([&] { return Files::realPath(path); });

    if (!folder) {
        FUZZ_CHECK(!lexical && !resolved && !batch, "nothing is accepted without an open folder");
        return 0;
    }
    FUZZ_CHECK(resolved == batch, "the batch look-up agrees with the single one for " + path);
    FUZZ_CHECK(refusedWith == batchRefusedWith, "the batch refuses as the single one does");
    if (resolved) FUZZ_CHECK(lexical.has_value(), "resolve accepts only what lexical accepts");

    if (lexical) {
        std::string base = *folder;
        while (base.size() > 1 && base.back() == '/') base.pop_back();
        FUZZ_CHECK(*lexical == base + "/" + path, "lexical appends the path as written");
        auto why = privatePart(path);
        FUZZ_CHECK(!why, path + " has " + why.value_or(""));
        FUZZ_CHECK(path.find('\\') == std::string::npos && path.find('\0') == std::string::npos,
                   "no backslash or NUL");
    }
    if (resolved) {
        FUZZ_CHECK(batchFolder == f.realOpen, "the batch hands back the real folder");
        FUZZ_CHECK(below(*resolved, f.realOpen), *resolved + " lies outside " + f.realOpen);
        auto why = privatePart(resolved->substr(f.realOpen.size() + 1));
        FUZZ_CHECK(!why, *resolved + " has " + why.value_or(""));
        // What the system reaches following the path as written, and the
        // returned path itself, are inside too (where the system can tell).
        std::error_code error;
        for (const std::string& reached : {*lexical, *resolved}) {
            fs::path real = fs::weakly_canonical(reached, error);
            if (error) continue;
            FUZZ_CHECK(below(real.string(), f.realOpen), reached + " reaches " + real.string());
        }
    }
    return 0;
}
