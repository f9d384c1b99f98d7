#pragma once
// One request of the page for its own scheme (SchemeNames::scheme), as WebKit hands it over,
// and its one answer. The body arrives as a stream that the Bridge's request
// frame reads itself.
#include <webkit/webkit.h>

#include "app/bridge/Platform.hpp"

class GtkSchemeTask final : public SchemeTask {
public:
    explicit GtkSchemeTask(WebKitURISchemeRequest* request);
    ~GtkSchemeTask() override;
    GtkSchemeTask(const GtkSchemeTask&) = delete;
    GtkSchemeTask& operator=(const GtkSchemeTask&) = delete;

    const SchemeRequest& request() const override { return request_; }
    void finish(int status, const HeaderMap& headers, std::string body) override;

private:
    WebKitURISchemeRequest* webRequest_;
    SchemeRequest request_;
};
