// Picture references as a stranger's document may write them, looked up for
// a document inside an allowed folder full of links that lead out, loop, or
// point at hidden and secret files. What is found must be a picture type,
// really inside the allowed folder, outside every private place; what is read
// is that file's bytes.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/BridgeError.hpp"
#include "core/Images.hpp"
#include "tests/fuzz/support/NameText.hpp"
#include "tests/fuzz/support/ScratchFolder.hpp"

namespace fs = std::filesystem;

namespace {

struct Fixture {
    ScratchFolder scratch;
    std::vector<std::string> allowed;
    std::vector<std::string> docs;

    Fixture() {
        scratch.write("outside/c.png", "outside");
        scratch.write("pics/a.png", "a");
        scratch.write("pics/docs/note.md", "![](img/b.PNG)");
        scratch.write("pics/docs/img/b.PNG", "b");
        scratch.write("pics/docs/img/with space.gif", "gif");
        scratch.write("pics/docs/img/100%.jpg", "percent");
        scratch.write("pics/.x.png", "hidden");
        scratch.write("pics/.ssh/k.png", "secret");
        scratch.write("pics/.shown/ok.png", "hidden folder");
        scratch.write("pics/notes.txt", "text");
        scratch.write("pics-sibling/d.png", "sibling");
        scratch.link("pics/out.png", scratch / "outside/c.png");
        scratch.link("pics/docs/up", "../..");
        scratch.link("pics/docs/loop.png", "loop.png");
        scratch.link("pics/docs/tossh", "../.ssh");
        scratch.link("pics/docs/hidden.png", "../.x.png");
        scratch.link("pics/docs/inside.png", "img/b.PNG");
        scratch.link("pics/docs/sibling", "../../pics-sibling");
        scratch.link("picslink", "pics");
        allowed = {scratch / "pics", scratch / "pics/", scratch / "picslink", scratch / "pics/docs"};
        docs = {scratch / "pics/docs/note.md", scratch / "picslink/docs/note.md", scratch / "pics/note.md"};
    }
};

Fixture& fixture() {
    static Fixture made;
    return made;
}

std::string read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Fixture& f = fixture();
    FuzzedDataProvider input(data, size);
    const std::string& allowed = f.allowed[input.ConsumeIntegralInRange<std::size_t>(0, f.allowed.size() - 1)];
    const std::string& doc = f.docs[input.ConsumeIntegralInRange<std::size_t>(0, f.docs.size() - 1)];
    const bool sandboxed = input.ConsumeBool();
    const std::string src = input.ConsumeRemainingBytesAsString();

    Images::Located found;
    try {
        found = Images::resolve(src, doc, allowed);
    } catch (const BridgeError& error) {
        FUZZ_CHECK(error.status == 400 || error.status == 403 || error.status == 415, error.message);
        return 0;
    }

    const std::string root = fs::canonical(allowed).string();
    FUZZ_CHECK(found.root == root, "the root is the allowed folder's real path");
    FUZZ_CHECK(found.path.size() > root.size() + 1 && found.path.compare(0, root.size(), root) == 0 &&
                   found.path[root.size()] == '/',
               found.path + " lies outside " + root);
    FUZZ_CHECK(Images::typeOf(found.path).has_value(), "only picture types");
    // Every name below the folder, checked here on its own terms.
    std::string inside = found.path.substr(root.size() + 1);
    std::vector<std::string> names;
    for (std::size_t start = 0;;) {
        std::size_t slash = inside.find('/', start);
        names.push_back(inside.substr(start, slash == std::string::npos ? std::string::npos : slash - start));
        if (slash == std::string::npos) break;
        start = slash + 1;
    }
    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::string& name = names[i];
        FUZZ_CHECK(!name.empty() && name != "." && name != "..", found.path + " is not a clean path");
        if (name[0] != '.') continue;
        FUZZ_CHECK(isASCII(name) && i + 1 < names.size(), found.path + " is hidden");
        FUZZ_CHECK(lower(name) != ".ssh", found.path + " is in a secret folder");
    }
    std::error_code error;
    fs::path real = fs::weakly_canonical(found.path, error);
    if (!error) FUZZ_CHECK(real.string() == found.path, found.path + " still holds a link to " + real.string());

    try {
        Images::Picture picture = Images::read(found, sandboxed);
        FUZZ_CHECK(picture.bytes == read(found.path), "the bytes are the file's");
        FUZZ_CHECK(picture.type == *Images::typeOf(found.path), "the type follows the name");
    } catch (const BridgeError& refusal) {
        if (sandboxed) FUZZ_CHECK(refusal.status == 403 || refusal.status == 404 || refusal.status == 413,
                                  refusal.message);
        else FUZZ_CHECK(refusal.status == 404 || refusal.status == 413 || refusal.status == 500, refusal.message);
    }
    return 0;
}
