// Reads the items with the JSON library's event parser, so the body is checked
// by the same parser as every other request while no tree is built.
#include "app/bridge/VersionItems.hpp"

#include "core/JSONText.hpp"

#include <algorithm>

#include <nlohmann/json.hpp>

namespace {

using json = nlohmann::json;

class ItemsReader final : public nlohmann::json_sax<json> {
public:
    explicit ItemsReader(std::size_t max) : max_(max) { items_.reserve(std::min<std::size_t>(max, 256)); }

    // The items, when the body held a valid "items" array of objects.
    std::vector<VersionItem> take() { return valid_ && itemsValid_ ? std::move(items_) : std::vector<VersionItem>(); }

    bool null() override { return scalar(std::nullopt); }
    bool boolean(bool) override { return scalar(std::nullopt); }
    bool number_integer(number_integer_t value) override { return scalar(Text{std::to_string(value), false}); }
    bool number_unsigned(number_unsigned_t value) override { return scalar(Text{std::to_string(value), false}); }
    // A number with a fraction or exponent is written back as the library writes it.
    bool number_float(number_float_t value, const string_t&) override { return scalar(Text{json(value).dump(), false}); }
    bool string(string_t& value) override { return scalar(Text{std::move(value), true}); }
    bool binary(binary_t&) override { return scalar(std::nullopt); }

    bool start_object(std::size_t) override { return enter(true); }
    bool end_object() override {
        --depth_;
        return true;
    }
    bool start_array(std::size_t) override { return enter(false); }
    bool end_array() override {
        --depth_;
        if (depth_ == 1) inItems_ = false;
        return true;
    }
    bool key(string_t& name) override {
        if (depth_ == 1) topKey_ = std::move(name);
        else if (depth_ == 3 && inItems_) member_ = std::move(name);
        return true;
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
        valid_ = false;
        return false;
    }

private:
    // A scalar's text, and whether it was written as text (a number was not).
    struct Text {
        std::string text;
        bool isString;
    };

    // A value begins where the depth says: the whole body, the value of a
    // top-level member, an element of "items" or a member of an item.
    bool scalar(std::optional<Text> value) {
        if (depth_ == 0) valid_ = false;          // the body is not an object
        else if (depth_ == 1) beginTopValue(false);
        else if (depth_ == 2 && inItems_) valid_ = false;  // an item that is not an object
        else if (depth_ == 3 && inItems_) setMember(std::move(value));
        return true;
    }

    bool enter(bool isObject) {
        opening(isObject);
        ++depth_;
        return true;
    }

    void opening(bool isObject) {
        if (depth_ == 0) {
            if (!isObject) valid_ = false;
        } else if (depth_ == 1) {
            beginTopValue(!isObject);
        } else if (depth_ == 2 && inItems_) {
            current_ = nullptr;
            if (!isObject) {
                valid_ = false;
            } else if (items_.size() < max_) {
                current_ = &items_.emplace_back();
            }
        } else if (depth_ == 3 && inItems_) {
            setMember(std::nullopt);
        }
    }

    // The last "items" member counts, whatever came before it.
    void beginTopValue(bool isArray) {
        if (topKey_ != "items") return;
        items_.clear();
        current_ = nullptr;
        itemsValid_ = isArray;
        inItems_ = isArray;
    }

    void setMember(std::optional<Text> value) {
        if (!current_) return;
        if (member_ == "key") {
            current_->key = value ? std::move(value->text) : std::string();
        } else if (member_ == "file" || member_ == "path") {
            std::optional<std::string> text;
            if (value && value->isString) text = std::move(value->text);
            (member_ == "file" ? current_->file : current_->path) = std::move(text);
        }
    }

    const std::size_t max_;
    std::vector<VersionItem> items_;
    VersionItem* current_ = nullptr;
    std::size_t depth_ = 0;
    std::string topKey_;
    std::string member_;
    bool inItems_ = false;
    bool itemsValid_ = false;
    bool valid_ = true;
};

}  // namespace

std::vector<VersionItem> readVersionItems(std::string_view body, std::size_t max) {
    ItemsReader reader(max);
    if (!json::sax_parse(body.begin(), body.end(), &reader)) return {};
    return reader.take();
}

std::string versionsAnswer(std::vector<std::pair<std::string, std::string>> states) {
    // The positions are sorted, not the texts; of equal keys the later item
    // sorts last and is the one kept.
    std::vector<std::size_t> order(states.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        int compared = states[a].first.compare(states[b].first);
        return compared != 0 ? compared < 0 : a < b;
    });
    std::string out = "{\"versions\":{";
    out.reserve(16 + states.size() * 80);
    bool first = true;
    for (std::size_t i = 0; i < order.size(); ++i) {
        const auto& [key, state] = states[order[i]];
        if (i + 1 < order.size() && states[order[i + 1]].first == key) continue;
        if (!first) out += ',';
        first = false;
        // Keys came through the parser, which accepts only UTF-8; states are ours.
        JSONText::appendString(out, key);
        out += ':';
        JSONText::appendString(out, state);
    }
    out += "}}";
    return out;
}
