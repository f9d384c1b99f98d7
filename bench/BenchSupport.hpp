#pragma once
// What every Bridge benchmark needs: a scheme task that keeps its answer, a
// platform that shows nothing, and a median over repeated rounds.
#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "app/bridge/Bridge.hpp"

class BenchTask final : public SchemeTask {
public:
    explicit BenchTask(SchemeRequest request) : request_(std::move(request)) {}
    const SchemeRequest& request() const override { return request_; }
    void finish(int status, const HeaderMap&, const std::string& body) override {
        this->body = body;
        this->status = status;
    }
    int status = 0;
    std::string body;

private:
    SchemeRequest request_;
};

class NoPlatform final : public Panels, public Workspace {
public:
    void runPanel(const PanelOptions&, std::function<void(PanelResult)> done) override { done({}); }
    void openURL(const std::string&) override {}
    void openFolder(const std::string&) override {}
};

// Median seconds per call over `rounds` rounds of `calls` calls.
template <typename Body>
double medianSeconds(int rounds, int calls, Body body) {
    std::vector<double> perCall;
    for (int round = 0; round < rounds; ++round) {
        auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < calls; ++i) body();
        perCall.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() / calls);
    }
    std::sort(perCall.begin(), perCall.end());
    return perCall[perCall.size() / 2];
}
