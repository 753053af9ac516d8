// What the node's cron daemon refuses to load, and why: Debian's cron (and
// cronie, where it differs) ignores a whole crontab for one line it cannot
// read, a user's crontab with the wrong mode or owner, and run-parts leaves
// out the scripts whose names or modes it does not take. These functions only
// judge; the readers list what they judge with the reason.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include "jobs/jobs.h"
#include "util/platform.h"

// Prefix of every error text of a job that the daemon does not load.
#define CRON_IGNORED "ignored by cron: "

// Judges one crontab line (its LF removed; a CR stays part of it) as the
// daemon of flavor (a cron_flavor) reads it, in the system layout (a user
// after the schedule) when system is set. line_end is 0 for a last line that
// has no LF. passwd is the text of /etc/passwd, or null to take every user.
// Returns 1 with the reason in why (capacity cap) when the daemon refuses the
// whole file for this line, else 0 (why ""). Blank lines, comments and
// assignments are never wrong, except an assignment without its line end.
int cron_load_line(const char *line, int system, int flavor, int line_end, const char *passwd,
                   char *why, size_t cap);

// True when the daemon reads line as an assignment (NAME=value, blanks
// allowed around "=", NAME maybe quoted); stores NAME and the value, quotes
// removed, when name / value are given.
int cron_env_line(const char *line, char *name, size_t name_cap, char *value, size_t value_cap);

// Finds user name in the passwd text; stores its uid. Returns 1 when found.
int passwd_find(const char *passwd, const char *name, uint32_t *uid);

// The node's /etc/passwd (under k_root), read once per process, at most
// 64 KiB of it; null when it cannot be read.
const char *node_passwd(void);

// Why the daemon of flavor ignores the spool crontab of user with the facts
// info (of the file itself, links not followed), or null when it loads it:
// the user must be in passwd, the owner that user or root, and the mode
// exactly 0600 for Debian's cron; cronie takes any mode that the owner can
// read and nobody can execute, and that only the owner can write.
// why (capacity cap) receives the text.
const char *spool_refusal(const plat_file_info *info, const char *user, const char *passwd,
                          int flavor, char *why, size_t cap);

// True when the daemon of flavor ignores a whole crontab for one line it
// cannot read (Debian's cron); cronie skips that line alone.
int cron_refuses_whole_file(int flavor);

// Marks every job from index first to the end of the table as not loaded:
// valid 0, no next runs, error CRON_IGNORED followed by why; unless unread is
// 0 and its error already says it is not loaded (a refused line keeps its own
// reason when the daemon read the file). When no job follows first, adds one
// for source (kind "cron", description "File ignored by cron"). Does nothing
// for a null or empty why.
void cron_refuse_jobs(int first, const char *source, const char *why, int unread);

// Adds a job for a line that made none (too few fields, no command), so that
// the line the daemon refuses is listed: expr the line's first five blank-
// separated words, command the rest, valid 0, error CRON_IGNORED and why.
// Returns the job, or null when the table is full.
cron_job *cron_add_refused_line(const char *line, const char *source, const char *user,
                                const char *why);

// Why run-parts (without --lsbsysinit) leaves out the entry name of a folder
// with the facts info (links followed), or null when it runs it. A name that
// starts with a dot gives "" (skipped without a trace). Otherwise "name
// contains a dot", "name contains a character other than letters, digits, _
// and -", "a folder", "not executable" or "not a regular file".
const char *run_parts_refusal(const char *name, const plat_file_info *info);
