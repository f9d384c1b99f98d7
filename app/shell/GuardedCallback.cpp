// The program's half of the callback guard: a failure becomes one counted line
// in the shared log, which is where a user's bug report finds it.
#include "app/shell/GuardedCallback.hpp"

#include <string>

#include "core/LogFile.hpp"

void CallbackGuard::report(long long failures) noexcept {
    try {
        appLog().add("shell: a callback failed (" + std::to_string(failures) + " so far)");
    } catch (...) {
        // Out of memory for the line: the count still went up.
    }
}
