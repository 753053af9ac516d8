// The node's own cron files: the pieces that the readers of the spool, the
// system crontab, /etc/cron.d and the run-parts folders share. The calls go
// one way, top down:
//   read_live_cron (node_cron.cpp, the source selector's entry)
//     -> read_user_crontabs (spool.cpp), read_system_crontabs (system_cron.cpp)
//     -> read_live_file (live.cpp), one crontab file or crontab -l
//     -> cron_line (cron_line.cpp) and add_run_parts_jobs (run_parts.cpp).
#pragma once
#include <stdint.h>

#include "jobs/jobs.h"
#include "util/platform.h"

// Which cron the node runs, told by what is installed.
enum cron_flavor { FLAVOR_UNKNOWN = 0, FLAVOR_DEBIAN, FLAVOR_CRONIE };

struct live_context {
    int32_t flavor;
    int32_t anacron; // anacron is installed
    int64_t start;
    run_window *window; // every run of the window too, or null
};

// The users' crontabs: the first spool folder found, else crontab -l. Called
// by read_live_cron; reads each file through read_live_file.
void read_user_crontabs(const live_context *ctx);

// /etc/crontab, then every file of /etc/cron.d that cron loads, and a job
// that says so for each file that it ignores. Called by read_live_cron;
// reads each file through read_live_file.
void read_system_crontabs(const live_context *ctx);

// Reads the crontab at access (a path under k_root) or, when child is set,
// the output of that child, as the jobs of source in the given layout.
// cronie's CRON_TZ lines switch the zone of the lines after them; system
// layout lines that run run-parts are followed by the folder's scripts
// (add_run_parts_jobs). Called by the spool and system crontab readers.
void read_live_file(const char *access, plat_child *child, const char *source, int system,
                    const char *user, const live_context *ctx);

// After the line job line_job (system layout) of file: when its command runs
// run-parts on a folder, adds one job per script that run-parts would run.
// Called by read_live_file.
void add_run_parts_jobs(const cron_job *line_job, const char *file, const live_context *ctx);
