#pragma once
// The refusal a call throws, or nothing when it returns: lets a table of cases
// compare status and message in one expectation.
#include <optional>

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
