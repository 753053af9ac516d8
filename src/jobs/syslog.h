// cron's records in text logs: lines of the traditional syslog format
// ("Dec 10 12:46:01 host CRON[5855]: (root) CMD (true)", local time, no year)
// and of rsyslog's ISO-8601 format ("2026-12-10T12:46:01.123456+01:00 host
// CRON[5855]: ..."), written by Debian's cron (tag "CRON") or cronie
// ("CROND"). Nothing in a text log says who wrote a line.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include "jobs/history.h"

// Longest line looked at; a longer one is skipped whole.
enum { SYSLOG_LINE_CAP = 4096 };

// Parses one line (the n bytes at line, without its LF) into r. now gives
// the year of a traditional stamp: the latest year in which the stamp is
// not more than a day after now. Returns 1 for a cron record of a run, else
// 0.
int syslog_line(const char *line, size_t n, int64_t now, hist_record *r);
