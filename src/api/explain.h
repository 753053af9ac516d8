// The explain answer's parts for the two schedule languages: the cron
// answer's timer form, and the whole answer for a calendar event.
#pragma once
#include <stdint.h>

#include "cron/cron.h"

// Writes ',"systemd":{...}' for the valid record ce parsed from text:
// "on_calendar" (the OnCalendar= values) or "on_boot_sec", and "note" when
// cron and systemd part on the days the clock changes, or when the node's
// cron rejects the line and never runs it.
void write_timer_form(const cron_expr *ce, const char *text, int64_t now);

// Writes the explain answer (body only) for expr read as an OnCalendar=
// value: valid, normalized, description, the next five elapse times and the
// cron line that says the same ("cron"), or the invalid answer. too_long set:
// the text was longer than judged and is refused whole.
void explain_calendar(const char *expr, int too_long, int64_t now, const char *now_utc,
                      const char *now_local);
