#pragma once
// A scheme task that keeps what the Bridge answered, for the tests and the
// fuzz targets alike (no GoogleTest here).
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "app/bridge/Platform.hpp"

struct Answer {
    int status = 0;
    HeaderMap headers;
    std::string body;
    nlohmann::json json() const { return nlohmann::json::parse(body); }
    std::string error() const { return json().at("error").get<std::string>(); }
};

class FakeTask final : public SchemeTask {
public:
    explicit FakeTask(SchemeRequest request) : request_(std::move(request)) {}
    const SchemeRequest& request() const override { return request_; }
    void finish(int status, const HeaderMap& headers, std::string body) override {
        ++finishCount;
        answer = Answer{status, headers, std::move(body)};
    }

    std::optional<Answer> answer;
    int finishCount = 0;

private:
    SchemeRequest request_;
};
