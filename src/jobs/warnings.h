// Warnings on the node's jobs that the scheduler does run, but not as the
// file suggests: a "%" that cuts the command, a program cron's PATH does not
// find, a CR line end, a schedule that never comes, CRON_TZ= where it is
// ignored, a timer without its unit or not enabled. A job keeps them as a
// set of bits and one detail text (cron_job::warnings, warning_detail).
#pragma once
#include <stddef.h>
#include <stdint.h>

#include "cron/cron.h"
#include "jobs/jobs.h"

enum warning_bit : uint16_t {
    WARN_PERCENT = 1u << 0,      // unescaped % in the command
    WARN_PROGRAM = 1u << 1,      // the program is not found; detail says how
    WARN_CR = 1u << 2,           // the line ends in a carriage return
    WARN_NEVER = 1u << 3,        // no run within the search horizon
    WARN_CRON_TZ = 1u << 4,      // CRON_TZ= above the line, ignored by this cron
    WARN_UNIT_MISSING = 1u << 5, // a timer's unit to start does not exist
    WARN_NOT_ENABLED = 1u << 6,  // a timer is installed but not enabled; detail its name
};

// The daemon's PATH when a file sets none (Debian's cron and cronie alike).
#define CRON_DEFAULT_PATH "/usr/bin:/bin"

// What the assignments above a line of one crontab file set.
struct cron_env {
    char path[512];  // the last PATH= value, or CRON_DEFAULT_PATH
    int32_t cron_tz; // a CRON_TZ= assignment was seen
};

// Starts the assignments of a new file: the default PATH, no CRON_TZ.
void cron_env_start(cron_env *env);

// Notes line (any line of the file) when it is a PATH= or CRON_TZ=
// assignment, as the daemon reads assignments.
void cron_env_note(cron_env *env, const char *line);

// True when command holds a "%" that no backslash escapes: cron ends the
// command there and gives the rest to it as its standard input.
int has_unescaped_percent(const char *command);

// Judges the program that the shell command starts, as sh -c would find it
// with PATH path, on the node (paths read under k_root). Returns 0 when it is
// found, or cannot be told (a shell word or builtin, an assignment alone, a
// relative path, quoting or expansions); else 1 with the detail in out
// (capacity cap): "/opt/x does not exist", "/opt/x is not executable", "NAME
// is found in DIR, which is not on cron's PATH P", or "NAME is not found on
// cron's PATH P".
int program_warning(const char *command, const char *path, char *out, size_t cap);

// Sets the warnings of a live cron job made from one line of a file read by
// a daemon of flavor (a cron_flavor) with the assignments env; ends_in_cr
// tells that the line ended in CR; ce is the line's parsed schedule.
void cron_job_warn(cron_job *job, const cron_expr *ce, const cron_env *env, int flavor,
                   int ends_in_cr);

// Writes the English text of warning bit of job into out (capacity cap).
void warning_text(const cron_job *job, uint16_t bit, char *out, size_t cap);

// True for a unit name that may be a timer to enable: "NAME.timer", not a
// template ("NAME@.timer"), which is enabled only through its instances.
int timer_may_be_disabled(const char *name);

// True when the unit file text (len bytes) has an [Install] section that
// says how to enable the unit (WantedBy=, RequiredBy=, UpheldBy= or Alias=);
// without one systemctl calls the unit static, and enabling does nothing.
int unit_has_install(const char *text, size_t len);
