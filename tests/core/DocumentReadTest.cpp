#include "core/DocumentRead.hpp"
#include "core/TestSeams.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

TEST(FilesVersion, IsTheLowerCaseSHA256OfTheBytes) {
    EXPECT_EQ(Files::version(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(Files::version("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    // Bytes, not text: no decoding, no line-ending changes.
    EXPECT_NE(Files::version("a\r\n"), Files::version("a\n"));
    EXPECT_EQ(Files::version(std::string(1000000, 'a')),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

struct ReadCase {
    const char* name;
    std::function<std::string(const TempDir&)> make;  // returns the path to read
    int status;  // 0: read succeeds
    const char* message;
};

void PrintTo(const ReadCase& c, std::ostream* out) { *out << c.name; }

class FilesReady : public testing::TestWithParam<ReadCase> {};

TEST_P(FilesReady, ReadsBytesOrRefuses) {
    TempDir dir;
    const auto& c = GetParam();
    std::string path = c.make(dir);
    if (c.status == 0) {
        auto read = Files::ready(path);
        EXPECT_EQ(read.bytes, TempDir::read(fs::canonical(path)));
        EXPECT_EQ(read.version, Files::version(read.bytes));
    } else {
        try {
            Files::ready(path);
            FAIL() << "no refusal";
        } catch (const BridgeError& error) {
            EXPECT_EQ(error.status, c.status);
            EXPECT_EQ(error.message, c.message);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FilesReady,
    testing::Values(
        ReadCase{"empty", [](const TempDir& d) { return d.write("a.md", ""); }, 0, ""},
        ReadCase{"binaryAndLarge",
                 [](const TempDir& d) {
                     std::string bytes(300000, '\0');
                     for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 31);
                     return d.write("a.md", bytes);
                 },
                 0, ""},
        ReadCase{"throughALink",
                 [](const TempDir& d) {
                     d.write("real.md", "linked");
                     fs::create_symlink(d / "real.md", d / "a.md");
                     return d / "a.md";
                 },
                 0, ""},
        ReadCase{"missing", [](const TempDir& d) { return d / "gone.md"; }, 404, "the file no longer exists"},
        ReadCase{"folder",
                 [](const TempDir& d) {
                     fs::create_directory(d / "a.md");
                     return d / "a.md";
                 },
                 404, "the file no longer exists"},
        ReadCase{"danglingLink",
                 [](const TempDir& d) {
                     fs::create_symlink(d / "nowhere.md", d / "a.md");
                     return d / "a.md";
                 },
                 404, "the file no longer exists"},
        // A loop says nothing about whether a document exists: never "gone".
        ReadCase{"linkLoop",
                 [](const TempDir& d) {
                     fs::create_symlink(d / "b.md", d / "a.md");
                     fs::create_symlink(d / "a.md", d / "b.md");
                     return d / "a.md";
                 },
                 500, "could not read the file: Too many levels of symbolic links"},
        // Neither is a document, and neither would ever end: a pipe waits for
        // a writer, a device like /dev/zero gives bytes for ever.
        ReadCase{"pipe",
                 [](const TempDir& d) {
                     ::mkfifo((d / "p.md").c_str(), 0600);
                     return d / "p.md";
                 },
                 404, "not a regular file"},
        ReadCase{"device", [](const TempDir&) { return std::string("/dev/zero"); }, 404, "not a regular file"},
        ReadCase{"largestDocument",
                 [](const TempDir& d) {
                     auto path = d.write("a.md", "");
                     fs::resize_file(path, Files::maxBytes);
                     return path;
                 },
                 0, ""},
        ReadCase{"pastTheLimit",
                 [](const TempDir& d) {
                     auto path = d.write("a.md", "");
                     fs::resize_file(path, Files::maxBytes + 1);
                     return path;
                 },
                 413, "file too large"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FilesReady, SameBytesSameVersionWhateverTheNameAndCallsBeforeDisk) {
    TempDir dir;
    auto first = dir.write("one.md", "same text");
    auto second = dir.write("sub/two.markdown", "same text");
    fs::last_write_time(second, fs::last_write_time(first) - std::chrono::hours(24));

    std::vector<std::string> seen;
    Files::testSeams().beforeDisk = [&](const std::string& path) { seen.push_back(path); };
    auto a = Files::ready(first);
    auto b = Files::ready(second);
    Files::testSeams().beforeDisk = nullptr;

    EXPECT_EQ(a.version, b.version);
    EXPECT_EQ(seen, (std::vector<std::string>{first, second}));
}

}  // namespace
