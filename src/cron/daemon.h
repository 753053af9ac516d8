// What a cron daemon makes of a schedule beyond the general rules: how
// Debian's cron and cronie describe its days, and the forms Debian's cron
// rejects. Beside cron_daemon_flags and cron_next_runs_local (cron.h), which
// time it as the daemon does.
#pragma once
#include <stddef.h>

#include "cron/cron.h"

// Rewrites the description out (capacity cap, holding cron_describe's text
// of the valid record ce) where the daemon's day rule picks other days than
// the general one: "every day" when neither day field is written "*..." and
// one of them selects every day, the weekdays and ", if it is one of days
// ... of the month" when both must match. Leaves out alone otherwise, and
// for a keyword.
void cron_daemon_describe(const cron_expr *ce, char *out, size_t cap);

// Why Debian's cron rejects the five-field schedule text (fields separated
// by blanks, items by commas), which cron_parse accepted: a step after a
// single value ("5/10"). Returns the rejection text, or null when it loads
// the line.
const char *cron_daemon_rejection(const char *schedule);
