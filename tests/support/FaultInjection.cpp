#include "tests/support/FaultInjection.hpp"

#include <atomic>
#include <cerrno>

struct FaultInjection::State {
    int nth = 1;
    int error = 0;  // 0: the call is not failed
    Repeat repeat = Repeat::once;
    std::function<void()> action;  // run before the nth call
    std::atomic<int> calls{0};
    std::atomic<int> failures{0};

    // Counts one call; true when this one must fail.
    bool count() {
        int number = ++calls;
        if (number == nth && action) action();
        if (error == 0) return false;
        bool fails = repeat == Repeat::once ? number == nth : number >= nth;
        if (fails) ++failures;
        return fails;
    }
};

namespace {

// Wraps one entry of the table. `passThrough` lets the real call run before the
// failure is reported (close).
template <typename R, typename... Args>
std::function<void()> wrap(std::function<R(Args...)>& entry, std::shared_ptr<FaultInjection::State> state,
                           bool passThrough = false) {
    auto previous = entry;
    entry = [previous, state, passThrough](Args... args) -> R {
        if (!state->count()) return previous(args...);
        if (passThrough) previous(args...);
        errno = state->error;
        return R(-1);
    };
    return [&entry, previous] { entry = previous; };
}

}  // namespace

FaultInjection::FaultInjection(SysCall call, int nth, int error, Repeat repeat)
    : FaultInjection(call, [&] {
          auto state = std::make_shared<State>();
          state->nth = nth;
          state->error = error;
          state->repeat = repeat;
          return state;
      }()) {}

FaultInjection::FaultInjection(SysCall call, std::shared_ptr<State> state) : state_(std::move(state)) {
    auto& table = sysCalls();
    switch (call) {
        case SysCall::open: restore_ = wrap(table.open, state_); break;
        case SysCall::write: restore_ = wrap(table.write, state_); break;
        case SysCall::fsync: restore_ = wrap(table.fsync, state_); break;
        case SysCall::rename: restore_ = wrap(table.rename, state_); break;
        case SysCall::renameNoReplace: restore_ = wrap(table.renameNoReplace, state_); break;
        case SysCall::link: restore_ = wrap(table.link, state_); break;
        case SysCall::close: restore_ = wrap(table.close, state_, true); break;
        case SysCall::unlink: restore_ = wrap(table.unlink, state_); break;
        case SysCall::rmdir: restore_ = wrap(table.rmdir, state_); break;
        case SysCall::mkdir: restore_ = wrap(table.mkdir, state_); break;
        case SysCall::fchmod: restore_ = wrap(table.fchmod, state_); break;
        case SysCall::chmod: restore_ = wrap(table.chmod, state_); break;
        case SysCall::ftruncate: restore_ = wrap(table.ftruncate, state_); break;
        case SysCall::flock: restore_ = wrap(table.flock, state_); break;
    }
}

FaultInjection::~FaultInjection() {
    if (restore_) restore_();
}

FaultInjection FaultInjection::before(SysCall call, int nth, std::function<void()> action) {
    auto state = std::make_shared<State>();
    state->nth = nth;
    state->action = std::move(action);
    return FaultInjection(call, std::move(state));
}

int FaultInjection::calls() const { return state_->calls.load(); }

int FaultInjection::failures() const { return state_->failures.load(); }
