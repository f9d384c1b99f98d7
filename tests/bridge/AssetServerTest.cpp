#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/BridgeHarness.hpp"

namespace {

namespace fs = std::filesystem;

class Assets : public ::testing::Test {
protected:
    void SetUp() override {
        h.dir.write("editor/web/app.JS", "console.log(1)");
        h.dir.write("editor/web/font.woff2", "font");
        h.dir.write("editor/web/style.css", "body{}");
        h.dir.write("editor/node_modules/lib/index.mjs", "export {}");
        h.dir.write("editor/icon.png", "png");
        h.dir.write("secret.md", "outside");
        fs::create_symlink(h.dir / "secret.md", h.dir / "editor/web/out.md");
        fs::create_symlink(h.dir / "editor/version.json", h.dir / "editor/web/in.json");
    }
    Answer get(const std::string& path, const std::string& method = "GET") {
        return h.run(h.task(method, path, std::string(), {}));
    }
    BridgeHarness h;
};

TEST_F(Assets, StartDocumentCarriesTokenAndName) {
    for (const char* path : {"/", "/index.html"}) {
        Answer answer = get(path);
        EXPECT_EQ(answer.status, 200);
        EXPECT_EQ(answer.headers.at("Content-Type"), "text/html; charset=utf-8");
        EXPECT_NE(answer.body.find(h.bridge->token), std::string::npos);
        EXPECT_NE(answer.body.find("<title>Quillmarsh</title>"), std::string::npos);
        EXPECT_EQ(answer.body.find("__QUILLMARSH_TOKEN__"), std::string::npos);
        EXPECT_EQ(answer.body.find("__PRODUCT__"), std::string::npos);
    }
    // Served by its own path it is left as it is.
    Answer raw = get("/web/index.html");
    EXPECT_NE(raw.body.find("__QUILLMARSH_TOKEN__"), std::string::npos);
    EXPECT_EQ(raw.headers.at("Content-Type"), "text/html; charset=utf-8");
}

TEST_F(Assets, ProductNameIsEscapedAndFallsBackToAppName) {
    h.dir.write("editor/version.json", R"({"name": "A&B <x> \"q\" 'y'"})");
    h.makeBridge();
    EXPECT_NE(get("/").body.find("<title>A&amp;B &lt;x> &quot;q&quot; 'y'</title>"), std::string::npos);

    h.dir.write("editor/version.json", "[1, 2]");
    h.makeBridge();
    EXPECT_TRUE(h.bridge->info.empty());
    EXPECT_NE(get("/").body.find("<title>" + appName() + "</title>"), std::string::npos);
}

struct AssetCase {
    const char* name;
    std::string path;
    int status;
    std::string type;
};

void PrintTo(const AssetCase& c, std::ostream* os) { *os << c.name; }

class AssetPaths : public Assets, public ::testing::WithParamInterface<AssetCase> {};

TEST_P(AssetPaths, ServesOnlyInsideTheEditorFolder) {
    const AssetCase& c = GetParam();
    Answer answer = get(c.path);
    EXPECT_EQ(answer.status, c.status) << c.path;
    if (c.status == 200) {
        EXPECT_EQ(answer.headers.at("Content-Type"), c.type);
    } else {
        EXPECT_EQ(answer.error(), "not found");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AssetPaths,
    ::testing::Values(AssetCase{"script", "/web/app.JS", 200, "text/javascript"},
                      AssetCase{"css", "/web/style.css", 200, "text/css"},
                      AssetCase{"module", "/node_modules/lib/index.mjs", 200, "text/javascript"},
                      AssetCase{"unknownType", "/web/font.woff2", 200, "application/octet-stream"},
                      AssetCase{"climbToEditorFolder", "/web/../version.json", 200, "application/json"},
                      AssetCase{"linkInsideEditor", "/web/in.json", 200, "application/json"},
                      AssetCase{"climbOut", "/web/../../secret.md", 404, ""},
                      AssetCase{"climbOutEncoded", "/web/%2E%2E/%2E%2E/secret.md", 404, ""},
                      AssetCase{"climbOutDoubleEncoded", "/web/%252E%252E/%252E%252E/secret.md", 404, ""},
                      AssetCase{"linkOut", "/web/out.md", 404, ""},
                      AssetCase{"folder", "/web/", 404, ""},
                      AssetCase{"topLevelFile", "/icon.png", 404, ""},
                      AssetCase{"missing", "/web/none.js", 404, ""},
                      AssetCase{"nul", "/web/app.JS%2500", 404, ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Assets, MethodIsIgnoredAndNoTokenIsNeeded) {
    Answer answer = get("/web/app.JS", "POST");
    EXPECT_EQ(answer.status, 200);
    EXPECT_EQ(answer.body, "console.log(1)");
}

TEST(AssetsMissing, StartDocumentMissingOrNotUTF8) {
    BridgeHarness h(false);
    EXPECT_EQ(h.run(h.task("GET", "/", std::string(), {})).status, 404);
    h.dir.write("editor/web/index.html", "\xff\xfe");
    EXPECT_EQ(h.run(h.task("GET", "/", std::string(), {})).status, 404);
}

// The nonce a start document's policy names for styles.
std::string styleNonceOf(const Answer& answer) {
    const std::string& policy = answer.headers.at("Content-Security-Policy");
    const std::string lead = "style-src 'self' 'nonce-";
    auto start = policy.find(lead);
    if (start == std::string::npos) return "";
    start += lead.size();
    auto end = policy.find("';", start);
    if (end == std::string::npos) return "";
    std::string nonce = policy.substr(start, end - start);
    bool hex = !nonce.empty() && nonce.find_first_not_of("0123456789abcdef") == std::string::npos;
    return hex ? nonce : "";
}

TEST_F(Assets, EveryFileCarriesThePolicyAndTheStartDocumentItsStyleNonce) {
    h.dir.write("editor/web/index.html",
                "<meta name=\"t\" content=\"__QUILLMARSH_TOKEN__\"><style nonce=\"__QUILLMARSH_NONCE__\"></style>"
                "<link nonce=\"__QUILLMARSH_NONCE__\">");
    h.makeBridge();
    Answer page = get("/");
    ASSERT_EQ(page.status, 200);
    const std::string policy = page.headers.at("Content-Security-Policy");
    // Scripts only from the page's own files: nothing inline, no eval, no other origin.
    for (const char* directive :
         {"default-src 'self';", "script-src 'self';", "connect-src 'self';", "object-src 'none';",
          "base-uri 'none';", "frame-src 'none';", "form-action 'none'", "img-src 'self' blob: data:;",
          "worker-src 'self' blob:;", "font-src 'self' data:;"}) {
        EXPECT_NE(policy.find(directive), std::string::npos) << directive;
    }
    for (const char* loosening : {"unsafe-inline", "unsafe-eval", "*", "http", "wasm-unsafe-eval"}) {
        EXPECT_EQ(policy.find(loosening), std::string::npos) << loosening;
    }

    std::string nonce = styleNonceOf(page);
    ASSERT_EQ(nonce.size(), 64u);
    EXPECT_EQ(page.body, "<meta name=\"t\" content=\"" + h.bridge->token + "\"><style nonce=\"" + nonce +
                             "\"></style><link nonce=\"" + nonce + "\">");
    // The nonce gives the token away in no part of itself.
    EXPECT_EQ(nonce.find(h.bridge->token.substr(0, 8)), std::string::npos);
    EXPECT_EQ(h.bridge->token.find(nonce.substr(0, 8)), std::string::npos);

    // Scripts carry the same policy: a worker runs under its own script's.
    for (const char* path : {"/web/app.JS", "/node_modules/lib/index.mjs", "/web/style.css", "/web/index.html"}) {
        EXPECT_EQ(get(path).headers.at("Content-Security-Policy"), policy) << path;
    }

    // A new launch has a new token, and with it a new nonce.
    const std::string firstToken = h.bridge->token;
    h.makeBridge();
    ASSERT_NE(h.bridge->token, firstToken);
    std::string next = styleNonceOf(get("/"));
    EXPECT_EQ(next.size(), 64u);
    EXPECT_NE(next, nonce);
}

}  // namespace
