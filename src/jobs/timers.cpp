// The node's systemd timers, read from the unit files without asking systemd,
// in three steps: the enabled timers and their unit files (unit_lookup.h),
// one job per timer (timer_job.h), then the runs of the values in named
// zones, zone by zone.
#include <string.h>

#include "jobs/jobs.h"
#include "jobs/timer_job.h"
#include "jobs/unit_lookup.h"
#include "jobs/warnings.h"
#include "util/str.h"

namespace {

// The unit that timer name starts: Unit=, else the service of the same name.
void service_of(const char *name, const timer_unit *timer, char *out, size_t cap) {
    if (timer->unit[0]) {
        str_copy(out, cap, timer->unit);
        return;
    }
    str_copy(out, cap, name);
    char *dot = strrchr(out, '.');
    if (dot) *dot = 0;
    str_append(out, cap, ".service");
}

timer_unit g_timer;
service_unit g_service;
zoned_values g_held;

// Adds the job of timer name: its unit file and drop-ins, its service's
// (which may have none), the warning of a missing service and the names its
// records carry; its runs go into window too when one is given. Returns the
// job; null when the timer has no readable unit file (*full 0) or the table
// is full (*full 1).
cron_job *add_timer_job(const char *name, int64_t start, run_window *window, int *full) {
    *full = 0;
    memset(&g_timer, 0, sizeof g_timer);
    memset(&g_service, 0, sizeof g_service);
    if (!unit_load(name, &g_timer, nullptr)) return nullptr;
    char service_name[PLAT_NAME_CAP];
    service_of(name, &g_timer, service_name, sizeof service_name);
    const int have_service = unit_load(service_name, nullptr, &g_service);
    cron_job *job = add_job();
    if (!job) {
        *full = 1;
        return nullptr;
    }
    timer_fill_job(job, &g_timer, service_name, have_service ? &g_service : nullptr, start, &g_held,
                   window);
    job->checked = 1;
    if (!have_service) job->warnings |= WARN_UNIT_MISSING;
    // What the journal's records and the stamp file name.
    str_set(job->unit, service_name);
    str_set(job->timer, name);
    note_source("systemd");
    return job;
}

// One job per timer installed but not enabled, after the enabled ones:
// described as if enabled, without next runs, with the warning that says
// how to enable it.
void add_disabled_timers(int64_t start) {
    const plat_name *names;
    const int count = unit_disabled_timers(&names);
    for (int k = 0; k < count; k++) {
        int full;
        cron_job *job = add_timer_job(names[k].s, start, nullptr, &full);
        if (full) break;
        if (!job) continue;
        job->next_count = 0;
        job->warnings |= WARN_NOT_ENABLED;
        str_set(job->warning_detail, names[k].s);
    }
    // A timer that does not run has no runs to add in its zone.
    g_held.count = 0;
}

} // namespace

// A timer without a readable unit file is skipped; its service may lack one.
// The runs in named zones come last, once every job is made.
void read_timers(int64_t start, run_window *window) {
    const plat_name *names;
    const int count = unit_enabled_timers(&names);
    g_held.count = 0;
    for (int k = 0; k < count; k++) {
        int full;
        add_timer_job(names[k].s, start, window, &full);
        if (full) break;
    }
    timer_add_zoned_runs(&g_held, start, window);
    add_disabled_timers(start);
}
