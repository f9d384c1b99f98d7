// The checks every page message passes before the program acts on it, and
// the title strip it may set.
#include "app/shell/PageMessage.hpp"

#include <gtest/gtest.h>

namespace {

using nlohmann::json;

const MessageSource editor{true, "lornwick://app/"};

PageMessage check(const json& body, const MessageSource& source = editor, const std::string& name = "quillmarsh") {
    return PageMessage::check(name, source, body);
}

json holes(size_t count) {
    json list = json::array();
    for (size_t i = 0; i < count; ++i) list.push_back({0, 0, 10, 10});
    return list;
}

struct RefusedCase {
    const char* name;
    json body;
    MessageSource source = editor;
    std::string handler = "quillmarsh";
};

void PrintTo(const RefusedCase& c, std::ostream* os) { *os << c.name; }

std::vector<RefusedCase> refusedCases() {
    json menu = {{"label", "File"}, {"items", json::array()}};
    return {
        {"OtherHandler", {{"open", "https://a.example/"}}, editor, "other"},
        {"SubFrame", {{"open", "https://a.example/"}}, {false, "lornwick://app/"}},
        {"ForeignOrigin", {{"open", "https://a.example/"}}, {true, "https://a.example/"}},
        {"NoOrigin", {{"open", "https://a.example/"}}, {true, ""}},
        {"NotAnObject", json::array({"open"})},
        {"NothingAtAll", json()},
        {"NoKey", json::object()},
        {"TwoKeys", {{"open", "https://a.example/"}, {"header", {{"height", 10}, {"holes", json::array()}}}}},
        {"UnknownKey", {{"title", "x"}}},
        {"MenusNotArray", {{"menus", menu}}},
        {"MenusOfNonObjects", {{"menus", json::array({menu, 3})}}},
        {"ThirteenMenus", {{"menus", json(std::vector<json>(13, menu))}}},
        {"HeaderNotObject", {{"header", 40}}},
        {"HeaderWithoutHoles", {{"header", {{"height", 40}}}}},
        {"HeaderHeightNotNumber", {{"header", {{"height", "40"}, {"holes", json::array()}}}}},
        {"HeaderHeightBoolean", {{"header", {{"height", true}, {"holes", json::array()}}}}},
        {"SixtyFiveHoles", {{"header", {{"height", 40}, {"holes", holes(65)}}}}},
        {"HoleNotArray", {{"header", {{"height", 40}, {"holes", json::array({5})}}}}},
        {"HoleWithText", {{"header", {{"height", 40}, {"holes", json::array({json::array({1, 2, "3", 4})})}}}}},
        {"OpenNotText", {{"open", 5}}},
        {"OpenFile", {{"open", "file:///etc/passwd"}}},
        {"OpenScript", {{"open", "javascript:alert(1)"}}},
        {"OpenLornwick", {{"open", "lornwick://app/"}}},
        {"OpenNoScheme", {{"open", "a.example/page"}}},
        {"OpenSpace", {{"open", "https://a.example/a b"}}},
        {"OpenBrokenEscape", {{"open", "https://a.example/%zz"}}},
        {"OpenTooLong", {{"open", "https://a.example/" + std::string(4096 - 18, 'a')}}},
    };
}

class Refused : public testing::TestWithParam<RefusedCase> {};

TEST_P(Refused, AsAWhole) {
    const RefusedCase& c = GetParam();
    EXPECT_EQ(PageMessage::check(c.handler, c.source, c.body).kind, PageMessage::Kind::refused);
}

INSTANTIATE_TEST_SUITE_P(Messages, Refused, testing::ValuesIn(refusedCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(PageMessage, MenusAreHandedOnWhole) {
    json menus = json::array();
    for (int i = 0; i < 12; ++i) menus.push_back({{"label", "M" + std::to_string(i)}, {"items", json::array()}});
    auto message = check({{"menus", menus}});
    ASSERT_EQ(message.kind, PageMessage::Kind::menus);
    EXPECT_EQ(message.menus, menus);
    // Malformed menus inside are the menu bar's business, skipped one by one there.
    EXPECT_EQ(check({{"menus", json::array({json::object()})}}).kind, PageMessage::Kind::menus);
}

TEST(PageMessage, HeaderHeightIsClampedAndMalformedHolesDropped) {
    auto low = check({{"header", {{"height", -5}, {"holes", json::array()}}}});
    ASSERT_EQ(low.kind, PageMessage::Kind::header);
    EXPECT_EQ(low.header.height, 0);
    auto high = check({{"header", {{"height", 500}, {"holes", json::array()}}}});
    EXPECT_EQ(high.header.height, 120);
    auto fractional = check({{"header", {{"height", 38.5}, {"holes", holes(64)}}}});
    ASSERT_EQ(fractional.kind, PageMessage::Kind::header);
    EXPECT_EQ(fractional.header.height, 38.5);
    EXPECT_EQ(fractional.header.holes.size(), 64u);

    auto mixed = check({{"header",
                         {{"height", 40},
                          {"holes", json::array({json::array({1, 2.5, 3, 4}), json::array({1, 2, 3}),
                                                 json::array({1, 2, 3, 4, 5}), json::array()})}}}});
    ASSERT_EQ(mixed.kind, PageMessage::Kind::header);
    ASSERT_EQ(mixed.header.holes.size(), 1u);
    EXPECT_EQ(mixed.header.holes[0], (HeaderRect{1, 2.5, 3, 4}));
}

TEST(PageMessage, OpenTakesWebAndMailLinksWithTheSchemeLowerCased) {
    struct Link {
        std::string sent, opened;
    };
    const Link links[] = {
        {"https://a.example/page?q=1#top", "https://a.example/page?q=1#top"},
        {"HTTPS://a.example/Page", "https://a.example/Page"},
        {"Http://a.example/", "http://a.example/"},
        {"mailto:someone@a.example", "mailto:someone@a.example"},
        {"https://a.example/%C3%A9", "https://a.example/%C3%A9"},
    };
    for (const auto& link : links) {
        auto message = check({{"open", link.sent}});
        ASSERT_EQ(message.kind, PageMessage::Kind::open) << link.sent;
        EXPECT_EQ(message.url, link.opened);
    }
    std::string longest = "https://a.example/" + std::string(4095 - 18, 'a');
    EXPECT_EQ(check({{"open", longest}}).kind, PageMessage::Kind::open);
}

TEST(HeaderArea, DragAreaIsTheStripOutsideItsHoles) {
    HeaderArea area{40, {{100, 0, 50, 40}}};
    EXPECT_TRUE(area.isDragArea(10, 0));
    EXPECT_TRUE(area.isDragArea(10, 39.9));
    EXPECT_FALSE(area.isDragArea(10, 40));   // the strip's lower edge belongs to the page
    EXPECT_FALSE(area.isDragArea(10, -1));
    EXPECT_FALSE(area.isDragArea(120, 20));  // a hole
    EXPECT_TRUE(area.isDragArea(150, 20));   // just right of the hole
    EXPECT_FALSE(HeaderArea{}.isDragArea(0, 0));
}

}  // namespace
