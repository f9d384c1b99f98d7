#pragma once
// The refusal a call throws, or nothing when it returns: lets a table of cases
// compare status and message in one expectation.
#include <optional>

#include <gtest/gtest.h>

#include "core/BridgeError.hpp"

template <typename Call>
std::optional<BridgeError> refusal(Call call) {
    try {
        call();
    } catch (const BridgeError& error) {
        return error;
    }
    return std::nullopt;
}

// The refusal a call must throw; a call that returns fails the test.
template <typename Call>
BridgeError expectedRefusal(Call call) {
    if (auto error = refusal(call)) return *error;
    ADD_FAILURE() << "no refusal";
    return BridgeError(0, "");
}
