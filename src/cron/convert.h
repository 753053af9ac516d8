// Schedules moved between the two languages of a node: a cron line as a
// systemd timer (its OnCalendar= values, or OnBootSec=), and a calendar
// event as a cron line. Both are meant for the node itself: its zone (the
// process's TZ, else the system zone) and the cron daemon's day rule.
#pragma once
#include <stdint.h>

#include "cron/calendar.h"
#include "cron/cron.h"

enum { TIMER_VALUES = 2, TIMER_VALUE_MAX = 512, CONVERT_NOTE_MAX = 256 };

// A cron schedule as a timer: count OnCalendar= values (0 for a boot-only
// one, which has on_boot_sec instead), and a note when the two part on the
// days the clock changes ("" when they do not).
struct timer_form {
    int32_t count;
    char on_calendar[TIMER_VALUES][TIMER_VALUE_MAX];
    char on_boot_sec[16];
    char note[CONVERT_NOTE_MAX];
};

// A calendar event as a cron line: expressible set and line the five
// fields, or reason the first thing cron cannot say; note as above.
struct cron_form {
    int32_t expressible;
    char line[640];
    char reason[96];
    char note[CONVERT_NOTE_MAX];
};

// Fills out for the valid record ce: the OnCalendar= values (in systemd's
// normalized form) whose elapse times are the daemon's runs of ce on every
// day without a clock change, two when a restricted day of month and a
// restricted weekday each suffice; "0" in on_boot_sec for @reboot. The note
// looks at the clock changes of the 366 days after now. Returns 1, or 0 for
// an invalid record (out cleared).
int cron_to_timer(const cron_expr *ce, int64_t now, timer_form *out);

// Fills out for the valid record cs: the cron line whose runs are the elapse
// times of cs on every day without a clock change, or the reason none says
// it. Returns out->expressible.
int cal_to_cron(const cal_spec *cs, int64_t now, cron_form *out);

// The note for a cron schedule run by the daemon and by systemd: how their
// run times part on the clock changes of the 366 days after now, in one
// sentence, or "" when they do not (a change of three hours or more is left
// out: cron takes the new time at once). Writes into note (capacity
// CONVERT_NOTE_MAX).
void clock_change_note(const cron_expr *ce, int64_t now, char *note);
