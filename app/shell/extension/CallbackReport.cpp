// The web process's half of the callback guard. The web process has no share
// in the program's log file (two processes trimming one file would tear it),
// so a failure goes to standard error, which the program's own inherits.
#include <glib.h>

#include "app/shell/GuardedCallback.hpp"

void CallbackGuard::report(long long failures) noexcept {
    g_printerr("quillmarsh web process: a callback failed (%lld so far)\n", failures);
}
