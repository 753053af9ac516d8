// The node's own cron files as one reader: which daemon is installed, then
// the users' crontabs and the system crontabs, timed as that daemon times
// them.
#include <string.h>

#include "jobs/live.h"
#include "jobs/paths.h"
#include "util/platform.h"
#include "util/str.h"

namespace {

// Tells Debian's cron from cronie by the daemons installed (busybox's crond,
// a link to busybox, is neither).
int detect_flavor(void) {
    char path[512];
    if (root_path(k_cronie, path, sizeof path) && plat_exists(path)) {
        char target[256];
        if (!plat_readlink(path, target, sizeof target)) return FLAVOR_CRONIE;
        if (!str_ends_with(target, "busybox")) return FLAVOR_CRONIE;
    }
    if (root_path(k_debian_cron, path, sizeof path) && plat_exists(path)) return FLAVOR_DEBIAN;
    return FLAVOR_UNKNOWN;
}

} // namespace

void read_live_cron(int64_t start, run_window *window) {
    live_context ctx = {};
    ctx.flavor = detect_flavor();
    char path[512];
    ctx.anacron = root_path(k_anacron, path, sizeof path) && plat_is_executable(path);
    ctx.start = start;
    ctx.window = window;
    read_user_crontabs(&ctx);
    read_system_crontabs(&ctx);
}
