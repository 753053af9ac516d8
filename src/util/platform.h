// The few operating-system services that differ between the POSIX and the
// Windows build. Each build links exactly one implementation of this header.
#pragma once
#include <stdint.h>
#include <stdio.h>
#include <time.h>

// Prepares standard output: fully buffered, and binary on Windows so that
// CR LF goes out as two bytes. Call before anything is written.
void plat_stdout_init(void);

// Asks for the pages of the n bytes at p to be made ready for writing in one
// go, where the system can: a page first written costs a fault each, which
// on some virtual machines costs more than filling the page. Contents are
// kept; a hint only, without effect where unsupported.
void plat_prepare_pages(void *p, size_t n);

// Says that a long answer follows, which will fill the output buffer: its
// pages are readied at once (see plat_prepare_pages).
void plat_stdout_expect_long(void);

// Breaks t (seconds since 1970 UTC) into UTC / local calendar fields.
// Returns 1 on success, 0 when the time cannot be converted.
int plat_gmtime(int64_t t, struct tm *out);
int plat_localtime(int64_t t, struct tm *out);

// Converts one line that a console command wrote into UTF-8, in out
// (capacity cap, always terminated, cut on a character boundary). Windows
// console programs write their texts ("Prêt", "Bereit") in the console's
// OEM code page; elsewhere the bytes are copied as they are.
void plat_console_to_utf8(const char *in, char *out, size_t cap);

// ---- Files and folders -------------------------------------------------

enum plat_kind { PLAT_MISSING = 0, PLAT_REGULAR, PLAT_FOLDER, PLAT_LINK, PLAT_OTHER };

struct plat_file_info {
    int32_t kind;  // a plat_kind
    uint32_t uid;  // owner
    uint32_t mode; // permission bits (07777)
    int64_t size;  // bytes
    int64_t mtime; // last modification, seconds since 1970 UTC
};

// Facts about path, following links (plat_stat) or not (plat_lstat). Returns
// 1, or 0 with kind PLAT_MISSING when the path cannot be examined.
int plat_stat(const char *path, plat_file_info *out);
int plat_lstat(const char *path, plat_file_info *out);

// Stores the target of the symbolic link at path into out (capacity cap),
// terminated. Returns 1, or 0 (out "") when it is no link or the target does
// not fit.
int plat_readlink(const char *path, char *out, size_t cap);

// True when path names anything (links followed).
int plat_exists(const char *path);

// True when path is a regular file with an execute bit set (links followed).
int plat_is_executable(const char *path);

enum { PLAT_NAME_CAP = 256 };

struct plat_name {
    char s[PLAT_NAME_CAP];
};

// Lists the entry names of the folder at path, "." and ".." left out, into
// names (cap rows), sorted in byte order. When the folder has more than cap
// names, the cap smallest are kept and *left_out is set to 1 (else 0).
// Returns the count stored, or -1 when the folder cannot be read. No memory
// is allocated.
int plat_list_dir(const char *path, plat_name *names, int cap, int *left_out);

// plat_list_dir over the names for which keep returns non-zero only: the
// cap smallest of them are kept, however many other names the folder holds.
int plat_list_dir_where(const char *path, int (*keep)(const char *name), plat_name *names, int cap,
                        int *left_out);

// Opens path for reading without ever blocking (no wait for a FIFO writer, no
// controlling terminal) and only when it is a regular file. Returns a handle
// >= 0, or -1 when the path is missing, unreadable or not a regular file.
int plat_open_read(const char *path);

// Reads up to cap bytes from the handle. Returns the count, 0 at the end and
// -1 on a read error.
int64_t plat_read(int handle, char *buf, size_t cap);

// Reads up to cap bytes from the handle at byte offset (0 from the start),
// leaving the handle's position undefined. Returns the count, 0 at or past the
// end and -1 on a read error.
int64_t plat_read_at(int handle, int64_t offset, char *buf, size_t cap);

// Closes a handle from plat_open_read; -1 is ignored.
void plat_close(int handle);

// ---- Child processes ---------------------------------------------------

struct plat_child {
    int64_t pid;       // -1 when nothing runs
    int fd;            // read end of the child's standard output, or -1
    int64_t deadline;  // monotonic milliseconds after which reading stops
    int32_t timed_out; // 1 once the deadline passed with output left unread
};

// Starts argv[0] (looked up on PATH when it has no slash) with the arguments
// argv (null-terminated), no shell, standard input and error on /dev/null and
// standard output through a pipe. Reading must end within timeout_ms of now.
// Returns 1, or 0 (c->pid -1) when it cannot start.
int plat_child_start(plat_child *c, const char *const *argv, int64_t timeout_ms);

// Reads up to cap bytes of the child's output, waiting no later than the
// deadline. Returns the count, 0 at the end of the output, or -1 once the
// deadline has passed: then the child has been killed and c->timed_out is 1.
int64_t plat_child_read(plat_child *c, char *buf, size_t cap);

// Closes the pipe, kills the child when it still runs, and reaps it, so that
// no child outlives the call. Safe to call twice.
void plat_child_end(plat_child *c);

// Milliseconds of a clock that never goes back and that no faked wall clock
// moves; only differences mean anything.
int64_t plat_monotonic_ms(void);

// The last run of the Windows scheduled task at task_path (its folder path
// and name, "\\Microsoft\\Windows\\Defrag\\ScheduledDefrag"), asked of the Task
// Scheduler service: *when its LastRunTime (seconds since 1970 UTC), *result
// its LastTaskResult. Returns 1, or 0 when the service, the task or a run is
// not there (elsewhere than on Windows always 0).
int plat_task_last_run(const char *task_path, int64_t *when, uint32_t *result);

// ---- The user and the zone ---------------------------------------------

// Writes the name of the user the process runs as into out (capacity cap):
// the name of the passwd_path line whose uid field equals the real uid, else
// LOGNAME, else USER, else the uid in decimal. Never asks NSS.
void plat_user_name(const char *passwd_path, char *out, size_t cap);

// The real uid of the process.
uint32_t plat_uid(void);

// Offset of local time from UTC at t, in seconds east (3600 in Berlin's
// winter). Returns 1, or 0 when t cannot be converted.
int plat_utc_offset(int64_t t, int32_t *offset);

// Calendar conversions in a chosen zone. plat_mktime and plat_localtime use
// the process's zone (TZ, else the system zone) unless plat_zone_push has
// switched them to another one; plat_zone_pop switches back.

// True when name is a zone of the system's zone database (a TZif file under
// /usr/share/zoneinfo, name made of letters, digits and "/-_+").
int plat_zone_exists(const char *name);

// Makes the named zone the conversion zone until the matching plat_zone_pop.
// Pushes nest only within one zone: pushing the zone already in force is
// free, another one is refused. Returns 1, or 0 (nothing changed) when the
// zone does not exist or cannot be switched to.
int plat_zone_push(const char *name);
void plat_zone_pop(void);

// Normalizes the calendar fields of tm (tm_isdst -1: let the zone decide) in
// the conversion zone, or in UTC when utc is set, and returns the time, or -1
// when it cannot be represented.
int64_t plat_mktime(struct tm *tm, int utc);

// The node's own zone (TZ, else the system zone), whatever zone plat_zone_push
// has put in force for conversions: its TZ value (null when TZ is unset), and
// its standard and daylight-saving abbreviations ("" when unknown). Valid
// until TZ changes or the next push.
const char *plat_node_tz(void);

// The TZ value of the conversion zone: the zone plat_zone_push put in force,
// else the node's TZ (null when unset). Caches of conversions are keyed on it.
const char *plat_zone_tz(void);
void plat_node_zone_abbrevs(const char **std_name, const char **dst_name);
