// The JSON API: building blocks and every JSON answer.
#pragma once
#include <stdint.h>

// Writes s to stdout as a JSON string literal, quotes included, always valid
// UTF-8: well-formed UTF-8 passes unchanged, control bytes are escaped, and a
// byte that is no part of well-formed UTF-8 becomes \u0080..\u00ff.
void json_str(const char *s);

// Writes t as "%Y-%m-%dT%H:%M:%SZ" (UTC) or "%Y-%m-%d %H:%M" (local time)
// into buf (>= 40 bytes), with the fallback text when t cannot be converted.
void utc_stamp(int64_t t, char *buf);
void local_stamp(int64_t t, char *buf);

// Writes v in decimal digits, "-" first when negative.
void json_int(int64_t v);

// Writes v in decimal at out (at most 20 bytes, no terminator) and returns
// the position after it.
char *json_format_int(char *out, int64_t v);

// Writes the runs as a JSON array of {utc, local, in_seconds} records;
// a count of zero or less gives "[]".
void print_runs(const int64_t *runs, int count, int64_t now);

// Writes the three header lines and the empty line of every JSON answer.
void json_header(void);

// Answers one JSON request (header block and body) for the raw query string.
int mode_json(const char *query);

struct cron_job;

// Writes the keys of a job object that every answer listing jobs shares:
// "source", "kind", "expr", "command", "user", "valid" (and "error" when
// it is false) and "description", comma-separated, without braces.
void write_job_fields(const cron_job *j);

// Writes the jobs answer from the collected job table, stamped with now.
void write_jobs_answer(int64_t now);

struct cron_job;

// Writes ,"warnings":[...] for a job that was checked for warnings (a live
// job), its texts in the order of the warning bits; nothing for another job.
void write_job_warnings(const cron_job *job);
