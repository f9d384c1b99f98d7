#include "tools/console/Console.hpp"

#include <openssl/evp.h>

#include <algorithm>
#include <iostream>

#include "core/JSONText.hpp"
#include "core/LogFile.hpp"
#include "core/SupportFolder.hpp"
#include "core/UTF8.hpp"

namespace {

std::string base64Encode(const std::string& bytes) {
    std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    int length = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                 reinterpret_cast<const unsigned char*>(bytes.data()),
                                 static_cast<int>(bytes.size()));
    out.resize(static_cast<size_t>(length));
    return out;
}

std::optional<std::string> base64Decode(const std::string& text) {
    if (text.size() % 4 != 0) return std::nullopt;
    std::string out(3 * text.size() / 4 + 1, '\0');
    int length = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                 reinterpret_cast<const unsigned char*>(text.data()),
                                 static_cast<int>(text.size()));
    if (length < 0) return std::nullopt;
    // EVP_DecodeBlock counts the padding as zero bytes.
    size_t padding = 0;
    if (!text.empty() && text.back() == '=') ++padding;
    if (text.size() > 1 && text[text.size() - 2] == '=') ++padding;
    out.resize(static_cast<size_t>(length) - padding);
    return out;
}

// Checked without writing the text out: large answers (a folder's tree) are
// written once, not twice.
bool isUTF8(const std::string& text) { return UTF8::isValid(text); }

// A body handed over piece by piece, as the web view does for large bodies;
// it can be told to fail after its bytes to stand for a broken connection.
class StringStream final : public InputStream {
public:
    StringStream(std::string bytes, std::optional<std::string> failure)
        : bytes_(std::move(bytes)), failure_(std::move(failure)) {}
    ssize_t read(char* buffer, size_t capacity) override {
        if (position_ == bytes_.size()) return failure_ ? -1 : 0;
        size_t count = std::min(capacity, bytes_.size() - position_);
        std::copy_n(bytes_.data() + position_, count, buffer);
        position_ += count;
        return static_cast<ssize_t>(count);
    }
    std::string errorDescription() const override { return failure_.value_or(""); }

private:
    std::string bytes_;
    std::optional<std::string> failure_;
    size_t position_ = 0;
};

bool isStringList(const nlohmann::json& value) {
    return value.is_array() &&
           std::all_of(value.begin(), value.end(), [](const nlohmann::json& item) { return item.is_string(); });
}

bool isStringObject(const nlohmann::json& value) {
    return value.is_object() &&
           std::all_of(value.begin(), value.end(), [](const nlohmann::json& item) { return item.is_string(); });
}

// What is wrong with the fields of a request line, or nothing. A field of the
// wrong type refuses the whole line: left out, it would make another request
// than the one written; read, it would throw out of the console.
std::optional<std::string> wrongRequestField(const nlohmann::json& line) {
    for (const char* name : {"url", "method", "body", "body64", "streamError"}) {
        if (auto field = line.find(name); field != line.end() && !field->is_string()) {
            return std::string(name) + " must be a string";
        }
    }
    if (auto headers = line.find("headers"); headers != line.end() && !isStringObject(*headers)) {
        return "headers must be an object of strings";
    }
    if (auto stream = line.find("stream"); stream != line.end() && !stream->is_boolean()) {
        return "stream must be true or false";
    }
    return std::nullopt;
}

// What is wrong with a panel answer, or nothing.
std::optional<std::string> wrongPanelField(const nlohmann::json& panel) {
    if (!panel.is_object()) return "panel must be an object";
    if (auto chosen = panel.find("chosen"); chosen != panel.end() && !chosen->is_boolean()) {
        return "panel chosen must be true or false";
    }
    if (auto urls = panel.find("urls"); urls != panel.end() && !isStringList(*urls)) {
        return "panel urls must be a list of strings";
    }
    return std::nullopt;
}

}  // namespace

class ConsoleTask final : public SchemeTask {
public:
    ConsoleTask(Console& console, long long id, SchemeRequest request)
        : console_(console), id_(id), request_(std::move(request)) {}
    const SchemeRequest& request() const override { return request_; }
    void finish(int status, const HeaderMap& headers, std::string body) override {
        // The body is written straight into the line: it may be a listing of
        // 100 KiB, already checked as UTF-8 here. Its member comes first, as in
        // the library's own order ("body" and "body64" sort before the rest).
        std::string line;
        if (isUTF8(body)) {
            line = "{\"body\":";
            JSONText::appendString(line, body);
        } else {
            line = "{\"body64\":";
            JSONText::appendString(line, base64Encode(body));
        }
        nlohmann::json rest = {{"id", id_}, {"status", status}, {"headers", headers}};
        line += ',';
        line += rest.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace).substr(1);
        console_.emitLine(std::move(line));
        console_.finished(id_);
    }

private:
    Console& console_;
    long long id_;
    SchemeRequest request_;
};

Console::Console(std::string editor, std::istream& in, std::ostream& out, UpdateFetcher::Options updateOptions)
    : in_(in), out_(out) {
    // As at the program's launch: the log is in its current format before anything is written.
    appLog().prepare();
    bridge_ = std::make_unique<Bridge>(std::move(editor), Platform{main_, *this, *this, bookmarks_, *this},
                                       SupportFolder::userDataHome());
    bridge_->updateOptions = std::move(updateOptions);
    bridge_->tidyAtLaunch();
    bridge_->onQuit = [this] { emit({{"event", "quit"}}); };
    bridge_->onFolderChanged = [this] { emit({{"event", "folder-changed"}}); };
    bridge_->onOpenRequested = [this] {
        // Every hand-over ends in exactly one call, once its documents are recorded.
        if (handOversPending_ > 0) --handOversPending_;
        emit({{"event", "open-requested"}});
    };
}

Console::~Console() {
    // The Bridge's queues finish their jobs before the main loop they answer
    // through goes away.
    bridge_.reset();
}

int Console::run() {
    emit({{"token", bridge_->token}});
    SerialQueue reader("quillmarsh.console.input");
    reader.async([this] {
        std::string line;
        while (std::getline(in_, line)) {
            main_.post([this, line] { held_.push_back(line); });
        }
        main_.post([this] { inputDone_ = true; });
    });
    for (;;) {
        while (!held_.empty()) {
            if (waiting_) {
                if (!allAnswered()) break;
                waiting_ = false;
            }
            std::string line = std::move(held_.front());
            held_.pop_front();
            take(line);
        }
        if (inputDone_ && held_.empty() && allAnswered()) break;
        main_.runOnce(std::chrono::milliseconds(100));
    }
    // Work that answered requests may still have told the program something
    // (quit, a folder to show): let it arrive before the console ends.
    do {
        bridge_->io.sync([] {});
    } while (main_.runOnce(std::chrono::milliseconds(0)) > 0);
    out_.flush();
    return 0;
}

bool Console::allAnswered() const { return open_.empty() && handOversPending_ == 0; }

void Console::finished(long long id) { open_.erase(id); }

void Console::emit(const nlohmann::json& value) {
    emitLine(value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
}

void Console::emitLine(std::string line) {
    line += '\n';
    out_.write(line.data(), static_cast<std::streamsize>(line.size()));
    out_.flush();
}

void Console::take(const std::string& text) {
    if (text.find_first_not_of(" \t\r") == std::string::npos) return;
    auto line = nlohmann::json::parse(text, nullptr, false);
    if (line.is_discarded() || !line.is_object()) return emit({{"error", "not a JSON object"}});
    if (line.contains("url") || line.contains("id")) return startRequest(line);
    if (auto stop = line.find("stop"); stop != line.end()) {
        if (!stop->is_number_integer()) return emit({{"error", "stop needs a numeric id"}});
        auto found = open_.find(stop->get<long long>());
        if (found == open_.end()) return emit({{"error", "no such request"}});
        bridge_->stop(found->second);
        open_.erase(found);
        return;
    }
    if (auto wait = line.find("wait"); wait != line.end()) {
        if (*wait != true) return emit({{"error", "wait must be true"}});
        waiting_ = true;
        return;
    }
    if (auto panel = line.find("panel"); panel != line.end()) return queuePanelAnswer(*panel);
    if (auto online = line.find("online"); online != line.end()) {
        if (!online->is_boolean()) return emit({{"error", "online must be true or false"}});
        online_ = online->get<bool>();
        return;
    }
    if (auto finder = line.find("finder"); finder != line.end()) {
        if (!isStringList(*finder)) return emit({{"error", "finder must be a list of strings"}});
        ++handOversPending_;
        bridge_->handOverFromFinder(finder->get<std::vector<std::string>>());
        return;
    }
    emit({{"error", "unknown line"}});
}

void Console::queuePanelAnswer(const nlohmann::json& panel) {
    if (auto wrong = wrongPanelField(panel)) return emit({{"error", *wrong}});
    PanelResult answer;
    answer.chosen = panel.value("chosen", false);
    answer.paths = panel.value("urls", std::vector<std::string>{});
    panelAnswers_.push_back(std::move(answer));
}

void Console::startRequest(const nlohmann::json& line) {
    auto id = line.find("id");
    if (id == line.end() || !id->is_number_integer()) return emit({{"error", "a request needs a numeric id"}});
    long long number = id->get<long long>();
    if (auto wrong = wrongRequestField(line)) return emit({{"id", number}, {"error", *wrong}});
    if (open_.count(number)) return emit({{"error", "id already in use"}});
    SchemeRequest request;
    if (auto url = line.find("url"); url != line.end()) request.url = url->get<std::string>();
    if (auto method = line.find("method"); method != line.end()) request.method = method->get<std::string>();
    if (auto headers = line.find("headers"); headers != line.end()) {
        for (const auto& [name, value] : headers->items()) request.headers[name] = value.get<std::string>();
    }
    std::optional<std::string> body;
    if (auto text = line.find("body"); text != line.end()) body = text->get<std::string>();
    if (auto bytes = line.find("body64"); bytes != line.end()) {
        body = base64Decode(bytes->get<std::string>());
        if (!body) return emit({{"id", number}, {"error", "body64 is not Base64"}});
    }
    if (line.value("stream", false)) {
        std::optional<std::string> failure;
        if (auto error = line.find("streamError"); error != line.end()) failure = error->get<std::string>();
        request.bodyStream = std::make_shared<StringStream>(body.value_or(""), failure);
    } else {
        request.body = body;
    }
    auto task = std::make_shared<ConsoleTask>(*this, number, std::move(request));
    open_[number] = task;
    bridge_->start(task);
}

void Console::runPanel(const PanelOptions& options, std::function<void(PanelResult)> done) {
    emit({{"event", "panel"},
          {"kind", options.kind == PanelOptions::Kind::save ? "save" : "open"},
          {"files", options.files},
          {"folders", options.folders},
          {"multiple", options.multiple},
          {"extensions", options.extensions},
          {"message", options.message},
          {"accept", options.acceptLabel},
          {"start", options.startFolder},
          {"name", options.suggestedName}});
    PanelResult answer;
    if (!panelAnswers_.empty()) {
        answer = std::move(panelAnswers_.front());
        panelAnswers_.pop_front();
    }
    // A real panel answers later, from the main loop; so does this one.
    main_.post([done = std::move(done), answer = std::move(answer)] { done(answer); });
}

void Console::openURL(const std::string& url) { emit({{"event", "open-url"}, {"url", url}}); }

void Console::openFolder(const std::string& path) { emit({{"event", "open-folder"}, {"path", path}}); }
