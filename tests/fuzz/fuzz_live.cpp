// The node's cron file reader on a fuzzed file: the first byte picks the
// layout and the daemon (Debian's cron or cronie, whose CRON_TZ lines switch
// zones), the rest is the file. The table must stay well-formed, every run
// must be a minute the daemon's rules allow on the zone's clock, and the zone
// must be the node's again afterwards. A timeline window (1 to 24 hours, by
// the last byte) is filled on the way, its lanes agreeing with the jobs.
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include "cron/daemon.h"
#include "fuzz_util.h"
#include "jobs/live.h"

namespace {

const int64_t k_start = 1806148800; // the day before Berlin's clocks go forward

// Local calendar fields of t in the process's zone.
bool local_fields(int64_t t, struct tm *out) {
    time_t tt = (time_t)t;
    return localtime_r(&tt, out) != nullptr;
}

void check_table(const char *source) {
    FUZZ_CHECK(g_job_count >= 0 && g_job_count <= JOB_CAPACITY);
    FUZZ_CHECK(g_source_count >= 0 && g_source_count <= SOURCE_CAPACITY);
    for (int i = 0; i < g_job_count; i++) {
        const cron_job &j = g_jobs[i];
        FUZZ_CHECK(strcmp(j.kind, "cron") == 0);
        FUZZ_CHECK(terminated(j.source, sizeof j.source) && terminated(j.expr, sizeof j.expr));
        FUZZ_CHECK(terminated(j.command, sizeof j.command) && terminated(j.user, sizeof j.user));
        FUZZ_CHECK(terminated(j.description, sizeof j.description) && j.description[0]);
        FUZZ_CHECK(j.next_count >= 0 && j.next_count <= CRON_MAX_RUNS);
        if (strcmp(j.source, source) != 0) {
            // A run-parts script: a folder's path; one that run-parts leaves
            // out, or of a file cron refuses, says so.
            FUZZ_CHECK(j.source[0] == '/');
            FUZZ_CHECK(j.valid == 1 ||
                       (j.next_count == 0 && (strncmp(j.error, "ignored by run-parts: ", 22) == 0 ||
                                              strncmp(j.error, "ignored by cron: ", 17) == 0)));
            continue;
        }
        if (!j.valid) {
            FUZZ_CHECK(j.next_count == 0 && j.error[0]);
            continue;
        }
        // A schedule longer than expr holds is shown cut; only a whole one can
        // be parsed again here.
        if (strlen(j.expr) + 4 >= sizeof j.expr) continue;
        cron_expr ce;
        FUZZ_CHECK(cron_parse(&ce, j.expr) == 1);
        cron_daemon dm;
        cron_daemon_flags(&ce, &dm);
        // The general description, unless the daemon's day rule picks other
        // days: then the description follows the daemon.
        const bool either = !dm.dom_star && !dm.dow_star;
        const bool daemon_days =
            !ce.keyword[0] && (either ? ce.dom_restricted != ce.dow_restricted
                                      : ce.dom_restricted && ce.dow_restricted);
        FUZZ_CHECK(strncmp(j.description, ce.description, strlen(ce.description)) == 0 ||
                   ce.boot_only || daemon_days);
        int64_t prev = k_start;
        for (int k = 0; k < j.next_count; k++) {
            FUZZ_CHECK(j.next[k] > prev && j.next[k] % 60 == 0);
            prev = j.next[k];
        }
        // Without CRON_TZ lines the runs are the node zone's: each is a
        // matching local minute, or the first minute after a forward change.
        if (getenv("TZ") && strcmp(getenv("TZ"), "Europe/Berlin") == 0) {
            for (int k = 0; k < j.next_count; k++) {
                struct tm tm, before;
                FUZZ_CHECK(local_fields(j.next[k], &tm) && local_fields(j.next[k] - 60, &before));
                const bool jumped = tm.tm_gmtoff != before.tm_gmtoff;
                const bool match = ce.minutes[tm.tm_min] && ce.hours[tm.tm_hour] &&
                                   ce.months[tm.tm_mon + 1] &&
                                   cron_daemon_day_matches(&ce, &dm, tm.tm_mday, tm.tm_wday);
                FUZZ_CHECK(match || jumped);
            }
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) return 0;
    setenv("TZ", "Europe/Berlin", 1);
    tzset();
    char path[] = "/tmp/zv_fuzz_live_XXXXXX";
    int fd = mkstemp(path);
    FUZZ_CHECK(fd >= 0);
    FUZZ_CHECK(write(fd, data + 1, size - 1) == (ssize_t)(size - 1));
    close(fd);
    live_context ctx = {};
    ctx.flavor = data[0] & 2 ? FLAVOR_CRONIE : FLAVOR_DEBIAN;
    ctx.anacron = data[0] & 4;
    ctx.start = k_start;
    ctx.window = fuzz_window(k_start, size ? data[size - 1] : 0);
    jobs_reset();
    const bool cronie_zones = ctx.flavor == FLAVOR_CRONIE && memmem(data, size, "CRON_TZ", 7);
    read_live_file(path, nullptr, "/etc/crontab", data[0] & 1, "alice", &ctx);
    unlink(path);
    // CRON_TZ never outlives its file.
    FUZZ_CHECK(getenv("TZ") && strcmp(getenv("TZ"), "Europe/Berlin") == 0);
    if (cronie_zones) setenv("TZ", "none", 1); // runs may be in other zones: skip that check
    check_table("/etc/crontab");
    for (int i = 0; i < g_job_count; i++) check_lane(ctx.window, &g_jobs[i]);
    return 0;
}
