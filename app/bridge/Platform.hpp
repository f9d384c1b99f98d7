#pragma once
// The seam between the Bridge and the desktop. The GTK program implements these
// with WebKitGTK and GLib; the console and the tests implement them with
// scripted fakes. Nothing below this line may include a GTK or WebKit header.
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/Bookmarks.hpp"
#include "core/Dispatch.hpp"
#include "core/InputStream.hpp"

// Header field names exactly as they arrived; the frame looks up the two
// spellings it accepts and nothing else.
using HeaderMap = std::map<std::string, std::string>;

struct SchemeRequest {
    std::optional<std::string> url;
    std::optional<std::string> method;
    HeaderMap headers;
    // Either the whole body, or a stream to read it from, or neither.
    std::optional<std::string> body;
    std::shared_ptr<InputStream> bodyStream;
};

// One request of the page and its one answer. Its identity (the object itself)
// is what `stopped` remembers.
class SchemeTask {
public:
    virtual ~SchemeTask() = default;
    virtual const SchemeRequest& request() const = 0;
    // Hands the page the response head, the whole body, and ends the answer.
    // Called at most once, on the main thread. The body is the task's to
    // keep: a picture or a document of many megabytes is handed on, not copied.
    virtual void finish(int status, const HeaderMap& headers, std::string body) = 0;
};

struct PanelOptions {
    enum class Kind { open, save };
    Kind kind = Kind::open;
    bool files = true;
    bool folders = false;
    bool multiple = false;
    // File name extensions the panel offers ("md", "markdown"); empty: any.
    std::vector<std::string> extensions;
    std::string message;
    // The text of the panel's default button; empty for the platform's own
    // ("Open", "Save").
    std::string acceptLabel;
    // Absolute folder to start in; empty for the platform's default place.
    std::string startFolder;
    // Save panels: the name shown at first.
    std::string suggestedName;
};

struct PanelResult {
    // True exactly when the user pressed the panel's default button.
    bool chosen = false;
    std::vector<std::string> paths;
};

class Panels {
public:
    virtual ~Panels() = default;
    // Called on the main thread; `done` runs on the main thread when the panel ends.
    virtual void runPanel(const PanelOptions& options, std::function<void(PanelResult)> done) = 0;
};

class Workspace {
public:
    virtual ~Workspace() = default;
    // Opens a web or mail link with the system's default handler.
    virtual void openURL(const std::string& url) = 0;
    // Shows a folder in the file manager.
    virtual void openFolder(const std::string& path) = 0;
};

// What the system believes about its network connection.
class Network {
public:
    virtual ~Network() = default;
    // Whether the system has a network connection at all. Any thread.
    virtual bool online() = 0;
};

// What the Bridge is given of the platform. All five outlive the Bridge.
struct Platform {
    MainQueue& main;
    Panels& panels;
    Workspace& workspace;
    Bookmarks& bookmarks;
    Network& network;
};
