// Each live job's last run and how it ended, from the node's own records:
// systemd's and the cron daemon's records in the journal (or cron's text
// logs where the journal gives none), the stamp files of Persistent= timers,
// anacron's dates and the Task Scheduler. Records are outside input: only
// the ones whose writer the journal vouches for are taken from it, and a
// record is attached to a job only when its unit, or its user and its
// command as the daemon logs it, equal the job's exactly.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include "jobs/jobs.h"

// What a record says about a run.
enum hist_kind {
    HIST_NONE = 0,
    HIST_UNIT_STARTING,     // systemd began to start the unit
    HIST_UNIT_STARTED,      // the start job finished ("Started", "Finished")
    HIST_UNIT_SUCCESS,      // the unit deactivated successfully
    HIST_UNIT_FAILED,       // the unit failed; its result in `result`
    HIST_UNIT_START_FAILED, // the start job failed
    HIST_UNIT_EXIT,         // the main process ended: exit_code, exit_status
    HIST_CRON_CMD,          // cron started a job's command
    HIST_CRON_END,          // cron saw a job's command end
    HIST_CRON_ERROR,        // Debian's cron: a job's process failed, in detail
};

// How systemd says a main process ended (EXIT_CODE=).
enum { HIST_EXITED = 1, HIST_KILLED, HIST_DUMPED };

struct hist_record {
    int32_t kind;       // a hist_kind
    int64_t time;       // seconds since 1970 UTC
    int64_t pid;        // the process that wrote the record
    int64_t job_pid;    // cron: the job's process named in the text ("[N]", "#N"), else 0
    char unit[256];     // systemd: the unit the record is about
    char user[64];      // cron: the job's user
    char command[2048]; // cron: the command as the daemon logged it
    char detail[48];    // HIST_CRON_ERROR: "exit status 1", "killed by signal 9"
    char result[32];    // HIST_UNIT_FAILED: systemd's result ("exit-code")
    int32_t exit_code;  // HIST_UNIT_EXIT: HIST_EXITED, HIST_KILLED, HIST_DUMPED, or 0
    int32_t exit_status;
};

// Days of records looked at, back from now.
enum { HIST_DAYS = 31 };

// Parses a cron daemon's message text (the n bytes at msg, after its tag):
// "(user) CMD (command)" (Debian's cron with -L 8 puts "[pid] " before the
// command), "(user) END ([pid] command)", cronie's "(user) CMDEND
// (command)", "(CRON) error (grandchild #N failed with exit status S)" and
// "(CRON) error (grandchild #N terminated by signal S)". Fills r's kind,
// user, command, job_pid and detail and returns 1, or returns 0 for any
// other text (r's kind HIST_NONE).
int hist_cron_message(const char *msg, size_t n, hist_record *r);

// The kind of a record of systemd's service manager by its MESSAGE_ID (the
// n bytes at id), HIST_NONE for any other id.
int hist_message_kind(const char *id, size_t n);

// The MESSAGE_ID values that hist_message_kind knows, null-terminated.
extern const char *const k_hist_message_ids[];

// Writes command as cron logs it into out (capacity cap): up to its first
// "%" not escaped by a backslash, "\%" made "%", control characters as
// "^X", DEL as "^?" and bytes above 127 as "\ooo". Returns 1 when it had to
// be cut, else 0.
int cron_logged_command(const char *command, char *out, size_t cap);

// Gets the history pass ready for the jobs in the table: clears every
// job's last run and indexes the jobs by what their records name.
void history_begin(void);

// Applies one record read from the log named from ("journal", "syslog") to
// the job or jobs it names; records must come oldest first. Returns 1 when
// it was attached to a job, else 0.
int history_apply(const hist_record *r, const char *from);

// The same for records that come newest first (journalctl --reverse): the
// newest start of each job is its last run, and the end, failure or exit
// records seen before it, tied as above, tell how it ended. Returns 1 when
// the record was attached to a job (or kept for one), else 0.
int history_apply_newest(const hist_record *r, const char *from);

// The count of indexed jobs whose last run the newest-first records have
// not yet settled: 0 once nothing older can change the answer.
int history_unresolved(void);

// Ends a newest-first pass: a unit whose records were seen but not its
// start (older than the window, or not read before the deadline) gets the
// oldest of them as its run.
void history_finish_newest(const char *from);

// Reads the journal's records of the last HIST_DAYS days before now, from
// systemd (of the timers' services) and from the cron daemons, through
// journalctl started as a child within the child deadline, newest first,
// and applies them; it stops as soon as every job's last run is settled.
// Returns the count of records read, or -1 when journalctl could not start.
int64_t read_journal(int64_t now);

// Reads the ends of cron's text logs (and their ".1" rotations), at most
// HIST_TEXT_WINDOW bytes of each, and applies their cron records. Returns
// the count of cron records read.
enum { HIST_TEXT_WINDOW = 8 << 20 };
int64_t read_text_logs(int64_t now);

// Asks the Task Scheduler for the last run of the task at task_path (see
// plat_task_last_run) and stores it into job. Returns 1 when there was one.
int history_task(cron_job *job, const char *task_path);

// The history pass, after the readers: every job of the table gets its last
// run where one is recorded, from the journal, else the text logs, then the
// timer stamps and anacron's dates for the jobs still without one.
void read_history(int64_t now);

// Set when the request asked for the last runs (history=1 on a live source):
// the jobs answer then carries the key "last".
extern int32_t g_history_asked;
