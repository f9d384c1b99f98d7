#include "app/shell/GtkSchemeTask.hpp"

#include <libsoup/soup.h>

#include "app/shell/GuardedCallback.hpp"

namespace {

// The Bridge may drop its last hold on a task on one of its queues; WebKit's
// objects must only ever be released on the main thread.
void releaseOnMainThread(gpointer object) {
    g_idle_add(
        +[](gpointer held) noexcept -> gboolean {
            return guarded(G_SOURCE_REMOVE, [held] {
                g_object_unref(held);
                return G_SOURCE_REMOVE;
            });
        },
        object);
}

// The request body as the Bridge reads it: blocking reads on the main thread,
// which is where the frame reads every body (it is bounded there).
class GInputStreamReader final : public InputStream {
public:
    explicit GInputStreamReader(GInputStream* stream) : stream_(stream) {}
    ~GInputStreamReader() override {
        g_clear_error(&error_);
        releaseOnMainThread(stream_);
    }
    ssize_t read(char* buffer, size_t capacity) override {
        g_clear_error(&error_);
        gssize count = g_input_stream_read(stream_, buffer, capacity, nullptr, &error_);
        return count;
    }
    void close() override { g_input_stream_close(stream_, nullptr, nullptr); }
    std::string errorDescription() const override { return error_ ? error_->message : ""; }

private:
    GInputStream* stream_;
    GError* error_ = nullptr;
};

void freeBody(gpointer body) noexcept { delete static_cast<std::string*>(body); }

void collectHeader(const char* name, const char* value, gpointer headers) noexcept {
    // A repeated field keeps its first value, as the frame's header lookup expects one.
    guarded([&] { static_cast<HeaderMap*>(headers)->emplace(name, value); });
}

}  // namespace

GtkSchemeTask::GtkSchemeTask(WebKitURISchemeRequest* request)
    : webRequest_(WEBKIT_URI_SCHEME_REQUEST(g_object_ref(request))) {
    if (const char* uri = webkit_uri_scheme_request_get_uri(request)) request_.url = uri;
    if (const char* method = webkit_uri_scheme_request_get_http_method(request)) request_.method = method;
    if (SoupMessageHeaders* headers = webkit_uri_scheme_request_get_http_headers(request)) {
        soup_message_headers_foreach(headers, collectHeader, &request_.headers);
    }
    if (GInputStream* body = webkit_uri_scheme_request_get_http_body(request)) {
        request_.bodyStream = std::make_shared<GInputStreamReader>(body);
    }
}

GtkSchemeTask::~GtkSchemeTask() { releaseOnMainThread(webRequest_); }

void GtkSchemeTask::finish(int status, const HeaderMap& headers, std::string body) {
    // The bytes stay in the string they were made in; the web process reads
    // them from there, and the last reference frees it, on whatever thread.
    auto* kept = new std::string(std::move(body));
    GBytes* bytes = g_bytes_new_with_free_func(kept->data(), kept->size(), freeBody, kept);
    GInputStream* stream = g_memory_input_stream_new_from_bytes(bytes);
    WebKitURISchemeResponse* response = webkit_uri_scheme_response_new(stream, static_cast<gint64>(kept->size()));
    const char* phrase = soup_status_get_phrase(static_cast<guint>(status));
    webkit_uri_scheme_response_set_status(response, static_cast<guint>(status), phrase ? phrase : "");
    SoupMessageHeaders* fields = soup_message_headers_new(SOUP_MESSAGE_HEADERS_RESPONSE);
    for (const auto& [name, value] : headers) {
        soup_message_headers_append(fields, name.c_str(), value.c_str());
        if (g_ascii_strcasecmp(name.c_str(), "Content-Type") == 0) {
            webkit_uri_scheme_response_set_content_type(response, value.c_str());
        }
    }
    webkit_uri_scheme_response_set_http_headers(response, fields);  // takes the fields
    webkit_uri_scheme_request_finish_with_response(webRequest_, response);
    g_object_unref(response);
    g_object_unref(stream);
    g_bytes_unref(bytes);
}
