// The source selector: which readers fill the job table on this platform, in
// which order, and the names of what they read, for the info answer.
#pragma once
#include <stdint.h>

// Fills the job table (after jobs_reset) from the fixture when fixture (the
// value of CRONTAB_FILE) is set and not empty, else from every reader of the
// node in order: on POSIX the cron files (users' crontabs or crontab -l,
// /etc/crontab, /etc/cron.d with their run-parts folders), a task folder
// where the build names one, then the systemd timers; on Windows the task
// definition files, else the task list. Next runs are searched from start;
// with a window, every run in it goes there too (the task list's runs are
// only its next ones).
struct run_window;
void read_job_sources(const char *fixture, int64_t start, run_window *window = nullptr);

// Calls emit with the name of each source the selector may read, in order:
// "CRONTAB_FILE" first, then what each of the node's readers reads.
void job_source_names(void (*emit)(const char *name));
