// Calendar events of systemd timers (OnCalendar= values): the parsed record,
// its parser (cal_parse.cpp), the next-elapse search (cal_search.cpp) and the
// English description (cal_describe.cpp).
#pragma once
#include <stddef.h>
#include <stdint.h>

#include "cron/civil.h"

enum { CAL_YEAR, CAL_MONTH, CAL_DAY, CAL_HOUR, CAL_MINUTE, CAL_SECOND, CAL_LEVELS };
enum { CAL_PARTS = 32, CAL_MAX_RUNS = RUN_LIST_MAX };

// One list item of a field: start, or start..stop, each optionally "/repeat".
// Seconds are kept in microseconds; stop is -1 when open; repeat 0 when none.
struct cal_part {
    int64_t start, stop, repeat;
};

struct cal_field {
    int32_t any; // "*"
    int32_t count;
    cal_part parts[CAL_PARTS];
};

struct cal_spec {
    int32_t valid;
    char error[96];
    int32_t weekdays;     // bit 0 = Monday .. bit 6 = Sunday; 0 = every day
    int32_t end_of_month; // days counted back from the month's end ("~")
    int32_t utc;
    int32_t dst;    // -1, or 0 / 1 when the node's own abbreviation was named
    char zone[64];  // named zone, or ""
    char label[16]; // shorthand as written in lower case ("daily"), or ""
    cal_field fields[CAL_LEVELS];
};

// Parses one OnCalendar= value into cs, rewriting it in full. Returns 1, or 0
// with one of a fixed set of error texts; accepts and rejects what systemd's
// calendar parser does. A trailing abbreviation counts when it is the node's
// own zone's (TZ, else the system zone), whatever zone plat_zone_push has in
// force, so the record does not depend on where it is parsed.
int cal_parse(cal_spec *cs, const char *text);

// Stores up to five elapse times strictly after now, ascending, whole seconds
// (fractions cut), before the start of the UTC day k_horizon_days after
// today's: in UTC, in the named zone (pushed for the search) or in the
// conversion zone. Returns the count; 0 for an invalid record, a named zone
// that cannot be pushed, or a now after k_time_limit.
int cal_next_runs(const cal_spec *cs, int64_t now, int64_t out[CAL_MAX_RUNS]);

// True when the time t (whole second) is one the valid record selects,
// converted by the C library alone (the check of the search); 0 for an
// invalid record or a named zone that cannot be pushed.
int cal_matches(const cal_spec *cs, int64_t t);

// Writes an English description of a valid record into out (capacity cap).
void cal_describe(const cal_spec *cs, char *out, size_t cap);
