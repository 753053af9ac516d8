// What the calendar-event parser, search and description share: the unit of
// the seconds level, the bounds of each level, the shorthands and the weekday
// names in the Monday-first order of cal_spec.weekdays.
#pragma once
#include <stdint.h>

#include "cron/calendar.h"
#include "cron/cron.h"

// Seconds are kept in microseconds.
constexpr int64_t k_usec = 1000000;

// The last year a calendar event may name, as in systemd.
constexpr int k_last_year = 2199;

// The bounds of one level's values, seconds in microseconds, and the step of
// a range written without "/".
struct cal_level_rule {
    int64_t lo, hi;
    int64_t unit;
};

extern const cal_level_rule k_cal_levels[CAL_LEVELS];

// One shorthand: its name (lower case), the event it stands for and its
// English description.
struct cal_shorthand {
    const char *name;
    const char *event;
    const char *text;
};

enum { CAL_SHORTHANDS = 12 };
extern const cal_shorthand k_cal_shorthands[CAL_SHORTHANDS];

// The full name of weekday i, 0 = Monday (k_dow_long starts on Sunday).
inline const char *cal_weekday_long(int i) {
    return k_dow_long[(i + 1) % 7];
}
