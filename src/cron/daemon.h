// What a cron daemon makes of a schedule beyond the general rules: which
// jobs follow the clock, its day rule, how Debian's cron and cronie describe
// its days, and the forms Debian's cron rejects. cron_next_runs_local
// (cron.h) times a schedule by these rules.
#pragma once
#include <stddef.h>

#include "cron/cron.h"

// How a cron daemon reads a schedule: whether it is a wildcard job (minute or
// hour field begins with "*", or @hourly) and which day fields it counts as
// unrestricted (the text begins with "*").
struct cron_daemon {
    int32_t wildcard;
    int32_t dom_star;
    int32_t dow_star;
};

// Fills out from a valid record.
void cron_daemon_flags(const cron_expr *ce, cron_daemon *out);

// The daemon's day rule: with a "*" day field both fields must match, else
// either is enough. mday 1..31, wday 0..6 (0 = Sunday).
int cron_daemon_day_matches(const cron_expr *ce, const cron_daemon *dm, int mday, int wday);

// Rewrites the description out (holding cron_describe's text
// of the valid record ce) where the daemon's day rule picks other days than
// the general one: "every day" when neither day field is written "*..." and
// one of them selects every day, the weekdays and ", if it is one of days
// ... of the month" when both must match. Leaves out alone otherwise, and
// for a keyword.
void cron_daemon_describe(const cron_expr *ce, char out[CRON_DESCRIPTION_CAP]);

// Why Debian's cron rejects the five-field schedule text (fields separated
// by blanks, items by commas), which cron_parse accepted: a step after a
// single value ("5/10"). Returns the rejection text, or null when it loads
// the line.
const char *cron_daemon_rejection(const char *schedule);

// Why run-parts(8) would not run a file of this name, and Debian's cron would
// not load it from /etc/cron.d, which takes names by the same rule: only
// letters, digits, "_" and "-" (so dpkg leftovers and editor backups never
// run). Returns "name contains a dot", the text for any other character, or
// null for a name they take.
const char *cron_name_rejection(const char *name);
