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

// Median seconds per call of a floor and of our code, over `rounds` rounds of
// `calls` calls each, the two taking turns round by round: noise on a busy
// machine then falls on both alike instead of on whichever ran second.
struct Medians {
    double floor;
    double ours;
};
template <typename Floor, typename Ours>
Medians alternatingMedians(int rounds, int calls, Floor floor, Ours ours) {
    std::vector<double> floorTimes;
    std::vector<double> ourTimes;
    auto timeRound = [calls](auto& body, std::vector<double>& into) {
        auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < calls; ++i) body();
        into.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() / calls);
    };
    for (int round = 0; round < rounds; ++round) {
        timeRound(floor, floorTimes);
        timeRound(ours, ourTimes);
    }
    auto median = [](std::vector<double>& values) {
        std::sort(values.begin(), values.end());
        return values[values.size() / 2];
    };
    return {median(floorTimes), median(ourTimes)};
}
