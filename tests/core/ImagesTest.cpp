// Pictures a document may show: what a reference resolves to or why it is
// refused, and reading what was resolved without blocking, without reading
// too much and without following what changed since.
#include "core/Images.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <ostream>

#include "core/BridgeError.hpp"
#include "tests/support/Refusal.hpp"
#include "tests/support/TempDir.hpp"

namespace fs = std::filesystem;

namespace {

constexpr const char* notLocal = "not a local picture";
constexpr const char* outside = "the picture is outside the folder this app may read";
constexpr const char* hidden = "the picture is in a hidden file or a private folder";
constexpr const char* notAType = "not a picture type this app shows";
constexpr const char* notFound = "picture not found";
constexpr const char* tooLarge = "picture larger than 20 MB";

// root/ is the folder pictures may come from; the document is root/notes/doc.md.
struct PictureFolder {
    PictureFolder() {
        dir.write("outside.png", "out");
        dir.write("root/notes/doc.md", "# doc");
        dir.write("root/notes/pic.png", "pic");
        dir.write("root/notes/my pic.png", "spaced");
        dir.write("root/notes/100%.png", "percent");
        dir.write("root/notes/A.PNG", "upper");
        dir.write("root/notes/b.tiff", "tiff");
        dir.write("root/notes/noext", "none");
        dir.write("root/shots/one.png", "one");
        dir.write("root/notes/.hidden/a.png", "hidden");
        dir.write("root/.git/a.png", "secret");
        dir.write("root/.ssh/id.png", "secret");
        fs::create_symlink("../../outside.png", dir / "root/notes/escape.png");
        fs::create_symlink("../shots", dir / "root/notes/shots-link");
        fs::create_symlink("../.git", dir / "root/notes/git-link");
    }
    std::string root() const { return dir / "root"; }
    std::string doc() const { return dir / "root/notes/doc.md"; }

    TempDir dir;
};

struct ResolveCase {
    const char* name;
    std::string src;
    // The picture below root/ it resolves to, or the refusal.
    std::string resolvesTo;
    int status = 0;
    const char* message = "";
};

void PrintTo(const ResolveCase& c, std::ostream* out) { *out << c.name; }

class PictureReference : public testing::TestWithParam<ResolveCase> {};

TEST_P(PictureReference, ResolvesInsideTheFolderOrIsRefused) {
    PictureFolder f;
    const ResolveCase& c = GetParam();
    if (c.status == 0) {
        Images::Located picture = Images::resolve(c.src, f.doc(), f.root());
        EXPECT_EQ(picture.path, fs::canonical(f.dir / ("root/" + c.resolvesTo)).string());
        EXPECT_EQ(picture.root, fs::canonical(f.root()).string());
    } else {
        EXPECT_EQ(expectedRefusal([&] { Images::resolve(c.src, f.doc(), f.root()); }),
                  BridgeError(c.status, c.message));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PictureReference,
    testing::Values(
        ResolveCase{"Plain", "pic.png", "notes/pic.png"},
        ResolveCase{"FragmentDropped", "pic.png#frag", "notes/pic.png"},
        ResolveCase{"QueryDropped", "pic.png?v=2", "notes/pic.png"},
        ResolveCase{"PercentDecoded", "my%20pic.png", "notes/my pic.png"},
        ResolveCase{"MalformedEscapeKeptAsWritten", "100%.png", "notes/100%.png"},
        ResolveCase{"BlanksTrimmed", " \tpic.png\u00A0\u3000", "notes/pic.png"},
        ResolveCase{"UpperCaseExtension", "A.PNG", "notes/A.PNG"},
        ResolveCase{"ParentInsideTheFolder", "../shots/one.png", "shots/one.png"},
        ResolveCase{"DotsStandardised", "./../notes/./pic.png", "notes/pic.png"},
        ResolveCase{"LinkToAFolderInside", "shots-link/one.png", "shots/one.png"},
        ResolveCase{"Empty", "", "", 400, notLocal},
        ResolveCase{"OnlyAFragment", "#top", "", 400, notLocal},
        ResolveCase{"OnlyBlanks", " \t ", "", 400, notLocal},
        ResolveCase{"Web", "https://example.com/a.png", "", 400, notLocal},
        ResolveCase{"Data", "data:image/png;base64,iVBORw0KGgo=", "", 400, notLocal},
        ResolveCase{"FileURL", "file:///etc/a.png", "", 400, notLocal},
        ResolveCase{"DriveLetter", "C:\\pictures\\a.png", "", 400, notLocal},
        ResolveCase{"EncodedScheme", "https%3A//example.com/a.png", "", 400, notLocal},
        ResolveCase{"NUL", "pic.png%00.txt", "", 400, notLocal},
        ResolveCase{"UpOutOfTheFolder", "../../outside.png", "", 403, outside},
        ResolveCase{"EncodedUpOut", "%2e%2e/%2e%2e/outside.png", "", 403, outside},
        ResolveCase{"AbsoluteOutside", "/etc/passwd.png", "", 403, outside},
        ResolveCase{"LinkPointingOut", "escape.png", "", 403, outside},
        // Hidden folders that hold no secrets are read like the documents in them.
        ResolveCase{"HiddenFolderOfNoSecrets", ".hidden/a.png", "notes/.hidden/a.png"},
        ResolveCase{"HiddenFile", ".hidden.png", "", 403, hidden},
        ResolveCase{"SecretFolder", "../.git/a.png", "", 403, hidden},
        ResolveCase{"SecretFolderThroughALink", "git-link/a.png", "", 403, hidden},
        ResolveCase{"KeysFolder", "../.ssh/id.png", "", 403, hidden},
        ResolveCase{"NotAPictureType", "b.tiff", "", 415, notAType},
        ResolveCase{"NoExtension", "noext", "", 415, notAType},
        ResolveCase{"TheFolderItself", "..", "", 415, notAType}),
    [](const testing::TestParamInfo<ResolveCase>& info) { return std::string(info.param.name); });

TEST(PictureReference, AnAbsolutePathInsideTheFolderIsTakenAsItIs) {
    PictureFolder f;
    EXPECT_EQ(Images::resolve(f.dir / "root/shots/one.png", f.doc(), f.root()).path,
              fs::canonical(f.dir / "root/shots/one.png").string());
}

TEST(PictureTypes, MediaTypeByExtensionInAnyCase) {
    EXPECT_EQ(Images::typeOf("/a/b.PNG"), "image/png");
    EXPECT_EQ(Images::typeOf("x.JpEg"), "image/jpeg");
    EXPECT_EQ(Images::typeOf("x.svg"), "image/svg+xml");
    EXPECT_EQ(Images::typeOf("x.ico"), "image/x-icon");
    EXPECT_EQ(Images::typeOf("x.png.txt"), std::nullopt);
    EXPECT_EQ(Images::typeOf("/a.png/b"), std::nullopt);
}

// --- reading -----------------------------------------------------------------------

Images::Located locate(const PictureFolder& f, const std::string& src) {
    return Images::resolve(src, f.doc(), f.root());
}

void makeSized(const std::string& path, off_t size) {
    std::ofstream(path, std::ios::binary).put('x');
    ASSERT_EQ(::truncate(path.c_str(), size), 0);
}

TEST(PictureRead, GivesTheBytesAndTheMediaType) {
    PictureFolder f;
    Images::Picture picture = Images::read(locate(f, "A.PNG"), false);
    EXPECT_EQ(picture.bytes, "upper");
    EXPECT_EQ(picture.type, "image/png");
}

TEST(PictureRead, TwentyMegabytesAreServedAndOneByteMoreIsRefused) {
    PictureFolder f;
    makeSized(f.dir / "root/notes/limit.png", static_cast<off_t>(Images::maxBytes));
    makeSized(f.dir / "root/notes/over.png", static_cast<off_t>(Images::maxBytes) + 1);
    Images::Picture picture = Images::read(locate(f, "limit.png"), false);
    EXPECT_EQ(picture.bytes.size(), Images::maxBytes);
    EXPECT_EQ(picture.bytes.front(), 'x');
    for (bool sandboxed : {false, true}) {
        EXPECT_EQ(expectedRefusal([&] { Images::read(locate(f, "over.png"), sandboxed); }),
                  BridgeError(413, tooLarge));
    }
}

TEST(PictureRead, WhatIsNoRegularFileIsNotFoundWithoutBlocking) {
    PictureFolder f;
    // Nothing ever writes to the FIFO: a blocking open or read would hang the test.
    ASSERT_EQ(::mkfifo((f.dir / "root/notes/pipe.png").c_str(), 0600), 0);
    fs::create_directories(f.dir / "root/notes/folder.png");
    for (const char* src : {"pipe.png", "folder.png"}) {
        for (bool sandboxed : {false, true}) {
            EXPECT_EQ(expectedRefusal([&] { Images::read(locate(f, src), sandboxed); }), BridgeError(404, notFound))
                << src;
        }
    }
}

TEST(PictureRead, APictureThatCannotBeReachedAsksForTheFolderOnlyWhenSandboxed) {
    PictureFolder f;
    Images::Located missing = locate(f, "missing.png");
    EXPECT_EQ(expectedRefusal([&] { Images::read(missing, false); }), BridgeError(404, notFound));
    EXPECT_EQ(expectedRefusal([&] { Images::read(missing, true); }), BridgeError(403, Images::needsFolder));
}

TEST(PictureRead, AFolderSwappedForALinkAfterTheCheckIsNotFollowed) {
    PictureFolder f;
    f.dir.write("elsewhere/one.png", "not yours");
    Images::Located picture = locate(f, "../shots/one.png");
    fs::rename(f.dir / "root/shots", f.dir / "root/shots-before");
    fs::create_symlink(f.dir / "elsewhere", f.dir / "root/shots");
    EXPECT_EQ(expectedRefusal([&] { Images::read(picture, false); }), BridgeError(404, notFound));

    // And a link put in the picture's own place.
    fs::remove(f.dir / "root/shots");
    fs::rename(f.dir / "root/shots-before", f.dir / "root/shots");
    picture = locate(f, "../shots/one.png");
    fs::remove(f.dir / "root/shots/one.png");
    fs::create_symlink(f.dir / "elsewhere/one.png", f.dir / "root/shots/one.png");
    EXPECT_EQ(expectedRefusal([&] { Images::read(picture, false); }), BridgeError(404, notFound));
}

}  // namespace
