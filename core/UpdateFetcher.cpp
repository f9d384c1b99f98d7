#include "core/UpdateFetcher.hpp"

#include <curl/curl.h>
#include <strings.h>

#include <charconv>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>


namespace {

// libcurl's global set-up is not safe to run twice at once.
void initialiseCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct HandleFree {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct ListFree {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

std::string_view trimmed(std::string_view text) {
    auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return {};
    auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

// A decimal number; nothing when the text is not one, the largest value
// when it overflows (a length too large to count is still too large).
std::optional<long long> decimal(std::string_view text) {
    if (text.empty()) return std::nullopt;
    long long value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (end != text.data() + text.size()) return std::nullopt;
    if (error == std::errc::result_out_of_range) return std::numeric_limits<long long>::max();
    if (error != std::errc() || value < 0) return std::nullopt;
    return value;
}

// Header field names are ASCII and compared without case.
bool isField(std::string_view name, std::string_view wanted) {
    return name.size() == wanted.size() && ::strncasecmp(name.data(), wanted.data(), name.size()) == 0;
}

bool isRedirect(long status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// What one transfer has seen so far. Every libcurl callback of a transfer
// runs on the thread of curl_easy_perform, so nothing here needs a lock.
struct Transfer {
    explicit Transfer(const std::atomic<bool>& stopFlag) : stop(stopFlag) {}

    const std::atomic<bool>& stop;
    std::string data;
    std::optional<std::string> failure;
    // The head of the answer now arriving (a 100 Continue comes before the real one).
    long status = 0;
    bool sawLocation = false;
    long long announced = -1;
    // The final head was accepted: body bytes may follow.
    bool accepting = false;

    // The first reason wins: an abort that follows it must not replace it.
    void record(std::string_view reason) {
        if (!failure) failure = std::string(reason);
    }

    // Decides at the end of a head, before any byte of the body is taken.
    bool headEnded() {
        if (status >= 100 && status < 200) return true;  // an interim answer; the real one follows
        if (isRedirect(status) && sawLocation) {
            record(UpdateFetcher::elsewhere);
            return false;
        }
        if (status != 200) {
            record(std::string(UpdateFetcher::answered) + std::to_string(status));
            return false;
        }
        if (announced > static_cast<long long>(UpdateCheck::maxBytes)) {
            record(UpdateFetcher::tooBig);
            return false;
        }
        accepting = true;
        return true;
    }

    // One line of a head; false stops the transfer.
    bool headerLine(std::string_view line) {
        if (accepting) return true;  // trailers after a chunked body change nothing
        if (line.size() >= 5 && line.substr(0, 5) == "HTTP/") {
            status = 0;
            sawLocation = false;
            announced = -1;
            auto space = line.find(' ');
            if (space != std::string_view::npos) {
                auto code = line.substr(space + 1, 3);
                status = decimal(code).value_or(0);
            }
            return true;
        }
        if (trimmed(line).empty()) return headEnded();
        auto colon = line.find(':');
        if (colon == std::string_view::npos) return true;
        std::string_view name = trimmed(line.substr(0, colon));
        std::string_view value = trimmed(line.substr(colon + 1));
        if (isField(name, "location")) sawLocation = true;
        if (isField(name, "content-length")) {
            // An unreadable length counts as unknown: the bytes are counted anyway.
            if (auto length = decimal(value)) announced = *length;
        }
        return true;
    }

    bool body(std::string_view bytes) {
        if (!accepting) return false;
        data.append(bytes);
        if (data.size() > UpdateCheck::maxBytes) {
            record(UpdateFetcher::tooBig);
            return false;
        }
        return true;
    }
};

// libcurl calls these through plain function pointers: no exception may
// leave them, and a failure inside stops the transfer.
size_t onHeader(char* buffer, size_t size, size_t count, void* user) noexcept {
    auto& transfer = *static_cast<Transfer*>(user);
    size_t length = size * count;
    try {
        return transfer.headerLine(std::string_view(buffer, length)) ? length : 0;
    } catch (...) {
        transfer.record(UpdateFetcher::unreachable);
        return 0;
    }
}

size_t onBody(char* buffer, size_t size, size_t count, void* user) noexcept {
    auto& transfer = *static_cast<Transfer*>(user);
    size_t length = size * count;
    try {
        return transfer.body(std::string_view(buffer, length)) ? length : 0;
    } catch (...) {
        transfer.record(UpdateFetcher::unreachable);
        return 0;
    }
}

// Called about once a second even while the server says nothing, so a quit
// never waits out the whole time limit.
int onProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) noexcept {
    auto& transfer = *static_cast<Transfer*>(user);
    if (!transfer.stop.load()) return 0;
    transfer.record(UpdateFetcher::unreachable);
    return 1;
}

// Failures where no server was reached at all: only these may be blamed on a
// missing network. A refused certificate or a broken answer shows a server
// was there, so "offline" would mislead.
bool noConnection(CURLcode code) {
    return code == CURLE_COULDNT_RESOLVE_HOST || code == CURLE_COULDNT_RESOLVE_PROXY || code == CURLE_COULDNT_CONNECT;
}

}  // namespace

UpdateFetcher::UpdateFetcher(Options options, std::string userAgent, std::function<bool()> online,
                             const std::atomic<bool>& stop)
    : options_(std::move(options)), userAgent_(std::move(userAgent)), online_(std::move(online)), stop_(stop) {}

void UpdateFetcher::check(const std::string& current, const Completion& completion) noexcept {
    std::optional<UpdateResult> result;
    try {
        result = fetch(current);
    } catch (...) {
        result = UpdateResult::failed(std::string(unreachable));
    }
    try {
        if (completion) completion(std::move(*result));
    } catch (...) {
        // The caller's own failure; the fetch is over either way.
    }
}

UpdateResult UpdateFetcher::fetch(const std::string& current) {
    if (stop_.load()) return UpdateResult::failed(std::string(unreachable));
    initialiseCurlOnce();
    std::unique_ptr<CURL, HandleFree> handle(curl_easy_init());
    if (!handle) return UpdateResult::failed(std::string(unreachable));
    CURL* h = handle.get();

    std::unique_ptr<curl_slist, ListFree> fields;
    for (const char* field : {"Accept: application/json", "Accept-Language: en", "Cache-Control: no-cache"}) {
        curl_slist* longer = curl_slist_append(fields.get(), field);
        if (!longer) return UpdateResult::failed(std::string(unreachable));
        fields.release();
        fields.reset(longer);
    }

    Transfer transfer(stop_);
    bool set = true;
    auto option = [&](CURLoption name, auto value) { set = set && curl_easy_setopt(h, name, value) == CURLE_OK; };
    option(CURLOPT_URL, options_.feed.c_str());
    option(CURLOPT_PROTOCOLS_STR, "https");
    option(CURLOPT_REDIR_PROTOCOLS_STR, "https");
    option(CURLOPT_FOLLOWLOCATION, 0L);
    option(CURLOPT_HTTPGET, 1L);
    option(CURLOPT_USERAGENT, userAgent_.c_str());
    option(CURLOPT_HTTPHEADER, fields.get());
    // No cookie engine is ever switched on, and nothing of the user's is sent.
    option(CURLOPT_NETRC, static_cast<long>(CURL_NETRC_IGNORED));
    option(CURLOPT_SSL_VERIFYPEER, 1L);
    option(CURLOPT_SSL_VERIFYHOST, 2L);
    if (!options_.caFile.empty()) option(CURLOPT_CAINFO, options_.caFile.c_str());
    // Fetches run on worker threads: no signals for name look-ups.
    option(CURLOPT_NOSIGNAL, 1L);
    option(CURLOPT_TIMEOUT_MS, static_cast<long>(options_.timeout.count()));
    // A proxy's own "connection established" head is not the feed's answer.
    option(CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    option(CURLOPT_HEADERFUNCTION, onHeader);
    option(CURLOPT_HEADERDATA, &transfer);
    option(CURLOPT_WRITEFUNCTION, onBody);
    option(CURLOPT_WRITEDATA, &transfer);
    option(CURLOPT_XFERINFOFUNCTION, onProgress);
    option(CURLOPT_XFERINFODATA, &transfer);
    option(CURLOPT_NOPROGRESS, 0L);
    // Any option this libcurl refuses would loosen the rules above: no fetch then.
    if (!set) return UpdateResult::failed(std::string(unreachable));

    CURLcode code = curl_easy_perform(h);

    if (transfer.failure) return UpdateResult::failed(*transfer.failure);
    if (code == CURLE_OPERATION_TIMEDOUT) return UpdateResult::failed(std::string(tooSlow));
    if (code != CURLE_OK) {
        // The system's network monitor is asked only now, after a transfer
        // failed: a monitor that wrongly says "no network" (some VPNs and
        // container set-ups) then never stops a check that would have worked.
        bool online = true;
        try {
            if (online_) online = online_();
        } catch (...) {
        }
        if (noConnection(code) && !online) return UpdateResult::failed(std::string(offline));
        return UpdateResult::failed(std::string(unreachable));
    }
    if (!transfer.accepting) return UpdateResult::failed(std::string(answered) + std::to_string(transfer.status));

    auto info = UpdateCheck::parse(transfer.data);
    if (!info) return UpdateResult::failed(std::string(unreadable));
    if (UpdateCheck::isNewer(info->version, current)) return UpdateResult::newer(std::move(*info));
    return UpdateResult::current(info->version);
}
