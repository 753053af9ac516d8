// Job collection: the process-wide job table and source list, the crontab line
// splitter they share, and the readers that fill them: the fixture file, the
// node's cron files (users' crontabs, /etc/crontab, /etc/cron.d, run-parts
// folders) and its systemd timers on POSIX, the Windows task list. Which of
// them run, and in which order, is the source selector's choice (sources.h).
#pragma once
#include <stddef.h>
#include <stdint.h>

#include "cron/cron.h"
#include "cron/task.h"
#include "util/xml.h"

struct run_window; // jobs/timeline.h

struct cron_job {
    char source[64]; // "fixture", "schtasks", "Task Scheduler", "systemd", a file or folder
                     // path, "crontab -l"
    char expr[128];  // schedule as read; "task" for a Windows task
    char command[512];
    char user[64]; // system-format lines, a spool file's owner, crontab -l's user
    char kind[12]; // "cron", "timer" or "task"
    int32_t valid;
    char error[96];
    char description[CRON_DESCRIPTION_CAP];
    int32_t next_count;
    int64_t next[CRON_MAX_RUNS];
    // Live jobs only: what the node's scheduler does otherwise than the file
    // suggests (jobs/warnings.h). checked says that the job was looked at,
    // so that its answer lists the warnings, none too.
    uint16_t warnings; // warning_bit set
    uint8_t checked;
    char warning_detail[160];
    // The last run, when the history pass found one (last_from not empty).
    int64_t last_time;
    char last_outcome[12]; // "succeeded", "failed", "running", "started"
    char last_detail[48];  // "exit status 1", or ""
    char last_from[16];    // "journal", "syslog", "timer stamp", "anacron", ...
    char unit[256];        // a timer's service, as systemd's records name it
    char timer[256];       // a timer's own unit name
};

enum { JOB_CAPACITY = 512, SOURCE_CAPACITY = 16 };

extern cron_job g_jobs[JOB_CAPACITY];
extern int32_t g_job_count;
extern int32_t g_truncated;
extern char g_sources[SOURCE_CAPACITY][64];
extern int32_t g_source_count;

// Empties the table and the source list (the records are reused as taken).
void jobs_reset(void);

// Yields the next record, zeroed, or null (and sets g_truncated) when all
// 512 are in use.
cron_job *add_job(void);

// Records a source name once, in first-seen order; a 17th name is dropped.
void note_source(const char *name);

// Longest line a crontab reader keeps; the rest of a longer line is skipped.
enum { CRON_LINE_CAPACITY = 2048 };

// How the lines of one crontab file are read and timed.
struct cron_layout {
    int32_t system;     // a user name stands between schedule and command
    const char *source; // the jobs' source
    const char *user;   // the jobs' user in the user layout
    int32_t live;       // next runs as the node's cron finds them (local zone,
                        // daemon day rule), else matched in UTC
    int32_t strict;     // reject the forms Debian's cron rejects ("5/10")
    int64_t start;      // next runs are searched after this time
    run_window *window; // every run up to its end as well, or null
};

// Handles one line of a crontab file (its line end may still be there) in
// the given layout: blank lines, comments and assignments make nothing, a
// schedule line makes one job, its schedule judged, described and timed by
// src/cron (the daemon's rules too when layout->live or ->strict says so).
// Returns the job made, or null.
cron_job *cron_line(char *line, const cron_layout *layout, cron_expr *ce);

// Adds one job per schedule line of the fixture, the crontab-format file at
// path (CRONTAB_FILE), matched in UTC with next runs searched from start (and
// every run of the window, when one is given). An unreadable or non-regular
// file adds nothing, and never blocks.
void read_fixture_file(const char *path, int64_t start, run_window *window = nullptr);

// Handles one line of the fixture (its line end may still be there), the
// "# qz:" directives included; *system_format is the layout flag that
// directives switch.
void fixture_line(char *line, int *system_format, cron_expr *ce, int64_t start,
                  run_window *window = nullptr);

// Adds one job per task line of "schtasks /Query /FO CSV /NH".
void read_schtasks(void);

// Adds the node's own cron jobs (POSIX): the users' crontabs (or crontab -l),
// /etc/crontab, /etc/cron.d and the run-parts folders their lines run, timed
// as the node's cron times them, with next runs searched after start (and
// every run of the window, when one is given).
void read_live_cron(int64_t start, run_window *window);

// ---- Task Scheduler task definitions --------------------------------------

// What a task definition says beyond its triggers: its first action (and how
// many more), its principal, and why it cannot be read.
struct task_text {
    char action[448]; // "C:\x.exe /a", "COM handler {CLSID}", " (+2 more actions)" added
    char user[64];    // UserId or GroupId, well-known SIDs by name
    char error[96];   // why the document is no task definition
};

// Reads a parsed document as a task definition into task (the triggers
// beyond trigger_count left as they were) and text. Returns
// 1, or 0 with text->error set (wrong root element or namespace, a value
// that cannot be read).
int task_from_doc(const xml_doc *doc, task_def *task, task_text *text);

// Fills job from the bytes of one task definition file (any content), named
// by its task path (\Microsoft\Windows\Defrag\ScheduledDefrag), with
// next runs searched after start. A file that is no task definition makes a
// job with valid 0 and "unreadable task definition: " and the reason.
// With a window, every run in it goes there too.
void task_fill_job(cron_job *job, const char *task_path, const unsigned char *bytes, size_t n,
                   int64_t start, run_window *window = nullptr);

// Largest task definition file read; a longer one is listed as unreadable.
enum { TASK_FILE_LIMIT = 256 * 1024 };

// Adds one job per file of the Task Scheduler's task folder (k_task_folder
// under k_root): folders depth-first, names in byte order. Returns 1, or 0
// (nothing added) when the folder cannot be listed or none is configured.
// With a window, every run in it goes there too.
int read_task_folder(int64_t start, run_window *window);

// Handles one line of the task list (its line end may still be there).
void schtasks_line(char *line);

// Splits a non-empty CSV line into at most four fields of at most 255
// characters. Stores the count read (1..4); returns 0 when the line is to be
// skipped (a single field), else 1.
int csv_split(const char *line, char fields[4][256], int *nfields);

// Adds one job per enabled systemd timer of the unit search path (under
// k_root), in name order, after the jobs already read; next runs are
// searched from start (and every run of the window, when one is given).
void read_timers(int64_t start, run_window *window);
