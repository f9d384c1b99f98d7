// Every remembered state, read from whatever file a crash, a full disk, an
// older version or a hand edit left behind. The first byte chooses the store;
// the rest is its file. Loading must not crash, and what loads must save and
// load again to the same state. The picture folders and the time of the last
// update check are read only by their routes, so they go through a Bridge.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include <vector>

#include <nlohmann/json.hpp>

#include "core/AutoSaveRules.hpp"
#include "core/PluginFolderStore.hpp"
#include "core/Recent.hpp"
#include "core/RecoveryStore.hpp"
#include "core/SessionStore.hpp"
#include "core/Settings.hpp"
#include "core/SupportFolder.hpp"
#include "tests/fuzz/support/FuzzBridge.hpp"
#include "tests/fuzz/support/ScratchFolder.hpp"

namespace {

ScratchFolder& scratch() {
    static ScratchFolder folder;
    return folder;
}

void settings(const std::string& file) {
    nlohmann::json loaded = Settings(file, "1.2.3").values();
    FUZZ_CHECK(loaded.is_object(), "settings are an object");
    Settings saving(file, "1.2.3");
    FUZZ_CHECK(saving.update(nlohmann::json::object()) == loaded, "saving changes nothing");
    FUZZ_CHECK(Settings(file, "1.2.3").values() == loaded, "settings reload as saved: " + loaded.dump());
    // What was accepted is accepted again as it is.
    FUZZ_CHECK(Settings(file, "1.2.3").update(loaded) == loaded, "settings take their own values");
}

// An entry without a bookmark is written with the empty one, which reads back
// as such: the two are the same entry.
std::vector<Recent::Item> asStored(std::vector<Recent::Item> items) {
    for (Recent::Item& item : items) item.bookmark = item.bookmark.value_or("");
    return items;
}

void recent(const std::string& file) {
    Recent list(file);
    FUZZ_CHECK(list.items().size() <= Recent::max, "the list is bounded");
    if (list.items().empty()) return;
    auto first = list.items().front();
    list.add(first.kind, first.path, first.bookmark);
    FUZZ_CHECK(asStored(Recent(file).items()) == asStored(list.items()), "the list reloads as saved");
    list.listing();
}

void session(const std::string& file) {
    SessionStore store(file);
    auto loaded = store.load();
    if (!loaded) return;
    FUZZ_CHECK(loaded->docs.size() <= SessionStore::maxTabs, "tabs are bounded");
    store.save(*loaded);
    auto again = store.load();
    FUZZ_CHECK(again && *again == *loaded, "the session reloads as saved");
}

void recovery(const std::string& folder, const std::string& bytes) {
    const std::string id = "entry-1";
    std::filesystem::create_directories(folder);
    {
        FILE* out = std::fopen((folder + "/" + id + ".json").c_str(), "wb");
        FUZZ_CHECK(out != nullptr, "the entry file opens");
        std::fwrite(bytes.data(), 1, bytes.size(), out);
        std::fclose(out);
    }
    RecoveryStore store(folder);
    nlohmann::json listed = store.listing();
    RecoveryStore::Entry entry;
    try {
        entry = store.entry(id);
    } catch (const BridgeError& error) {
        FUZZ_CHECK(error.status == 404, error.message);
        FUZZ_CHECK(listed.empty(), "what cannot be read is not listed");
        return;
    }
    FUZZ_CHECK(listed.size() == 1, "a readable entry is listed");
    std::string base = listed[0].at("base").get<std::string>();
    store.put(id, entry.name, entry.location, entry.bookmark, base, entry.text);
    RecoveryStore::Entry again = store.entry(id);
    // An empty bookmark is none: it is not written, and reads back as none.
    FUZZ_CHECK(again.text == entry.text && again.name == entry.name && again.location == entry.location &&
                   again.bookmark.value_or("") == entry.bookmark.value_or(""),
               "the entry reloads as saved");
    nlohmann::json relisted = store.listing();
    FUZZ_CHECK(relisted.size() == 1, "still one entry");
    for (const char* key : {"id", "name", "location", "base", "size"})
        FUZZ_CHECK(relisted[0].at(key) == listed[0].at(key), std::string("the listing keeps ") + key);
}

void autosave(const std::string& file) {
    AutoSaveRules rules(file, [] { return true; });
    nlohmann::json listed = rules.rules();
    if (rules.items().empty()) return;
    auto [key, value] = *rules.items().begin();
    rules.change(key, value);
    AutoSaveRules again(file, [] { return true; });
    FUZZ_CHECK(again.items() == rules.items(), "the rules reload as saved");
    FUZZ_CHECK(again.rules() == listed, "the rules list the same");
    for (const auto& [path, on] : again.items()) again.state(path.substr(path.find(':') + 1));
}

void pluginFolders(const std::string& file) {
    PluginFolderStore store(file);
    if (store.entries().empty()) return;
    auto [id, entry] = *store.entries().begin();
    store.set(id, entry.path, entry.bookmark);
    FUZZ_CHECK(PluginFolderStore(file).entries() == store.entries(), "the plugin folders reload as saved");
}

FuzzBridge& bridge() {
    static FuzzBridge made;
    return made;
}

Answer ask(FuzzBridge& b, const std::string& method, const std::string& path, const std::string& body = "") {
    SchemeRequest request;
    request.url = "lornwick://app" + path;
    request.method = method;
    request.headers = {{"X-Quillmarsh-Token", b.token()}};
    request.body = body;
    auto task = std::make_shared<FakeTask>(request);
    FUZZ_CHECK(b.run(task), "answered in time: " + path);
    FUZZ_CHECK(task->finishCount == 1, "answered once: " + path);
    return *task->answer;
}

std::string supportFile(FuzzBridge& b, const char* name) {
    return b.scratch / ("data/" + std::string(SupportFolder::name) + "/" + name);
}

std::string contents(const std::string& path) {
    std::string bytes;
    if (FILE* in = std::fopen(path.c_str(), "rb")) {
        char buffer[4096];
        std::size_t count;
        while ((count = std::fread(buffer, 1, sizeof buffer, in)) > 0) bytes.append(buffer, count);
        std::fclose(in);
    }
    return bytes;
}

// A document opened by itself, as the file panel opens it: its pictures
// need a remembered folder grant. Returns its handle.
std::string openByItself(FuzzBridge& b) {
    auto chosen = ask(b, "POST", "/api/choose-file");
    auto answer = nlohmann::json::parse(chosen.body, nullptr, false);
    FUZZ_CHECK(chosen.status == 200 && answer.is_object() && answer.contains("file"), "the file opens: " + chosen.body);
    return answer.at("file").get<std::string>();
}

void imageFolders(const std::string& bytes) {
    FuzzBridge& b = bridge();
    const std::string name = "data/" + std::string(SupportFolder::name) + "/image-folders.json";
    b.reset();
    b.scratch.write(name, bytes);
    std::string file = openByItself(b);
    // Reading the remembered grants, then adding one.
    ask(b, "GET", "/api/image?file=" + file + "&src=pictures/dot.png");
    auto allowed = ask(b, "POST", "/api/allow-images?file=" + file);
    FUZZ_CHECK(allowed.status == 200, "the folder is allowed: " + allowed.body);
    std::string saved = contents(supportFile(b, "image-folders.json"));
    auto list = nlohmann::json::parse(saved, nullptr, false);
    FUZZ_CHECK(list.is_array() && !list.empty() && list.size() <= 50, "a bounded list: " + saved);
    for (const auto& entry : list)
        FUZZ_CHECK(entry.is_object() && entry.at("path").is_string() && entry.at("bookmark").is_string(),
                   "entries of text: " + saved);
    FUZZ_CHECK(list.back().at("path") == b.documentFolder(), "the folder allowed last is last");
    // What was saved loads and saves again unchanged.
    b.reset();
    b.scratch.write(name, saved);
    file = openByItself(b);
    auto shown = ask(b, "GET", "/api/image?file=" + file + "&src=pictures/dot.png");
    FUZZ_CHECK(shown.status == 200, "a remembered folder shows its pictures: " + shown.body);
    ask(b, "POST", "/api/allow-images?file=" + file);
    FUZZ_CHECK(contents(supportFile(b, "image-folders.json")) == saved, "allowing again changes nothing");
}

void updateState(const std::string& bytes) {
    FuzzBridge& b = bridge();
    b.reset();
    b.scratch.write("data/" + std::string(SupportFolder::name) + "/update-check.json", bytes);
    FUZZ_CHECK(ask(b, "POST", "/api/settings", R"({"updates": "on"})").status == 200, "settings are taken");
    ask(b, "GET", "/api/update/check?auto=1");
    // Whatever the file held, a check now was either not due or remembered:
    // the next automatic one is not due.
    auto next = ask(b, "GET", "/api/update/check?auto=1");
    auto state = nlohmann::json::parse(next.body, nullptr, false);
    FUZZ_CHECK(next.status == 200 && state.is_object() && state.value("state", "") == "not-due",
               "the time of the check is remembered: " + next.body);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const int store = data[0] % 8;
    const std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    ScratchFolder& folder = scratch();
    folder.clear();
    switch (store) {
        case 0: settings(folder.write("settings.json", bytes)); break;
        case 1: recent(folder.write("recent.json", bytes)); break;
        case 2: session(folder.write("session.json", bytes)); break;
        case 3: recovery(folder / "recovery", bytes); break;
        case 4: autosave(folder.write("autosave.json", bytes)); break;
        case 5: pluginFolders(folder.write("plugin-folders.json", bytes)); break;
        case 6: imageFolders(bytes); break;
        default: updateState(bytes); break;
    }
    return 0;
}
