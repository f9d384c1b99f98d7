#pragma once
// Makes one kind of system call in the sysCalls() table fail, for as long as
// the object lives:
//
//     FaultInjection fail(SysCall::fsync, 1, EIO);   // the first fsync fails once
//     ... run the code under test ...
//     EXPECT_EQ(fail.calls(), 1);                    // and was not retried
//
// Calls are counted from construction, on every thread. The failing call does
// not reach the system, with one exception: a failing close still closes
// (Linux releases the descriptor even when close reports an error, and the
// code under test must not leak it or close it twice). Injections stack; each
// restores only its own entry, so two of the same kind must end in reverse
// order of creation, as nested scopes do.
#include "core/SysCalls.hpp"

#include <functional>
#include <memory>

class FaultInjection {
public:
    enum class Repeat {
        once,    // only the nth call fails
        always,  // the nth call and every later one fail
    };

    FaultInjection(SysCall call, int nth, int error, Repeat repeat = Repeat::once);
    ~FaultInjection();
    FaultInjection(const FaultInjection&) = delete;
    FaultInjection& operator=(const FaultInjection&) = delete;

    // Runs `action` just before the nth call of a kind, which then goes ahead
    // normally: for changing the disk at an exact moment of an operation.
    //     auto hook = FaultInjection::before(SysCall::rename, 1, [&] { ... });
    static FaultInjection before(SysCall call, int nth, std::function<void()> action);

    // Calls of the kind since construction, failed ones included.
    int calls() const;
    // How many of them were made to fail.
    int failures() const;

    struct State;

private:
    FaultInjection(SysCall call, std::shared_ptr<State> state);

    std::shared_ptr<State> state_;
    std::function<void()> restore_;
};

// Saves the whole table and puts it back on destruction, for tests that replace
// entries by hand (short writes, recording arguments).
class SysCallsGuard {
public:
    SysCallsGuard() : saved_(sysCalls()) {}
    ~SysCallsGuard() { sysCalls() = saved_; }
    SysCallsGuard(const SysCallsGuard&) = delete;
    SysCallsGuard& operator=(const SysCallsGuard&) = delete;

private:
    SysCalls saved_;
};
