#pragma once
// A refusal with the HTTP status to answer and a message written for the user.
// Every operation that turns a request down throws one; the router answers it
// as {"error": message}.
#include <stdexcept>
#include <string>

struct BridgeError : std::exception {
    int status;
    std::string message;

    BridgeError(int status, std::string message) : status(status), message(std::move(message)) {}
    const char* what() const noexcept override { return message.c_str(); }
    bool operator==(const BridgeError& other) const {
        return status == other.status && message == other.message;
    }
};
