// The job a systemd timer becomes: its schedule text, its English
// description, its next elapse times and the command of its service.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include "jobs/jobs.h"
#include "jobs/unit_file.h"

// A systemd time span ("15min", "1h 30min", "12h", "43200", "0.5h") in whole
// seconds, or -1 when it does not read as one or exceeds 10^12 seconds.
int64_t span_seconds(const char *text);

// Expands the specifiers that a command line commonly carries into out
// (capacity cap, cut like str_copy): %i %I (the instance of unit), %n (unit),
// %N (unit without its type), %p %P (the prefix before "@"), %% ("%"). Any
// other "%x" is kept as written.
void expand_specifiers(const char *in, const char *unit, char *out, size_t cap);

enum { ZONED_CAP = 256 };

// An OnCalendar= value in a named zone, whose runs wait until every timer is
// read: the C library reads a zone's file again at each switch, so each zone
// is switched to once, not once per value.
struct zoned_value {
    cron_job *job;
    int32_t done;
    char zone[64];
    char text[256];
};

struct zoned_values {
    int32_t count;
    zoned_value values[ZONED_CAP];
};

// Fills job from the settings of a timer and of the service it starts,
// service_name (and service, or null when it has no readable unit file); the
// runs of the values in the node's zone or in UTC are searched from start.
// The values in a named zone are held back in held, for
// timer_add_zoned_runs, or searched at once when held is full. With a
// window, every run in it goes there too.
void timer_fill_job(cron_job *job, const timer_unit *timer, const char *service_name,
                    const service_unit *service, int64_t start, zoned_values *held,
                    run_window *window = nullptr);

// Adds the runs of the values held back to their jobs, searched from start,
// zone by zone (every run of the window too, when one is given), and
// empties held.
void timer_add_zoned_runs(zoned_values *held, int64_t start, run_window *window = nullptr);
