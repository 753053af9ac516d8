// Schedule arithmetic of the program, for cron expressions and systemd
// calendar events:
// - cron expressions: the parsed record (cron_expr), the field, keyword and
//   name tables and the parser (parse.cpp), the English description
//   (describe.cpp), the next-run search in UTC (next.cpp) and the zone-aware
//   search as a cron daemon runs the schedule, with the daemon's day rule
//   and daylight-saving rules (local.cpp);
// - calendar events of systemd timers (calendar.h): parser (cal_parse.cpp),
//   next-elapse search (cal_search.cpp), description (cal_describe.cpp);
// - what the searches share: civil days, weekdays, month lengths, the horizon
//   and the merge of run lists (civil.h), and the zone-offset cache that
//   turns wall times into times and back (zone_cache.h).
#pragma once
#include <stdint.h>

#include "cron/civil.h"

// Capacity of a schedule's English description, terminator included.
enum { CRON_DESCRIPTION_CAP = 224 };

struct cron_expr {
    int32_t valid;             // 1 when the text parsed
    char error[96];            // error text of a failed parse, else ""
    char expr[128];            // input as given, cut for display, untrimmed
    char keyword[16];          // matched @keyword, else ""
    char field_text[5][40];    // the five fields as written, cut for display
    unsigned char minutes[60]; // presence flags, 0 or 1
    unsigned char hours[24];
    unsigned char days_of_month[32]; // slots 1..31
    unsigned char months[13];        // slots 1..12
    unsigned char days_of_week[7];   // 0 = Sunday
    int32_t dom_restricted;          // some day of month 1..31 not selected
    int32_t dow_restricted;          // some weekday not selected
    int32_t boot_only;               // @reboot: no clock times
    char description[CRON_DESCRIPTION_CAP];
    // What the description needs of the whole field texts, which field_text
    // may hold only in part: N of a field written "*/N..." (else 0), and
    // whether the field is a comma list.
    int32_t field_step[5];
    int32_t field_list[5];
};

// The longest expression judged, after trimming; a longer one is rejected
// with k_expr_too_long rather than judged in part.
enum { CRON_TEXT_MAX = 1023 };
constexpr const char k_expr_too_long[] = "expression too long";

// One of the five fields, its bounds record: its key in answers, its values
// lo..hi, the names it accepts (names[i] is the value first + i; null when
// none) and its two error texts.
struct cron_field {
    const char *key;
    int lo, hi;
    const char *const *names;
    int nnames, first;
    const char *syntax_error;
    const char *range_error;
};

extern const cron_field k_cron_fields[5];

// One @keyword: the single value each table is narrowed to (-1 keeps every
// slot), the flags, the description and the field values shown for it.
struct cron_keyword {
    const char *name;
    int minute, hour, dom, month, dow;
    int dom_restricted, dow_restricted, boot_only;
    const char *description;
    const char *field_values[5];
};

extern const cron_keyword k_cron_keywords[8];

// The keyword row named exactly name, or null.
const cron_keyword *cron_keyword_find(const char *name);

// The three-letter names the parser accepts (lower case; any case is read)
// and the full names of the descriptions. Weekdays start on Sunday.
extern const char *const k_dow_names[7];
extern const char *const k_mon_names[12];
extern const char *const k_dow_long[7];
extern const char *const k_mon_long[12];

enum { CRON_MAX_RUNS = RUN_LIST_MAX };

// Parses a five-field expression or @keyword into ce, rewriting it in full.
// The whole text is judged (after trimming); expr and field_text keep what
// fits of it for display. Returns 1 (valid, description written) or 0
// (error text set).
int cron_parse(cron_expr *ce, const char *text);

// Parses one comma list (any length) of the field f into table (slots
// f->lo..f->hi), which the caller has cleared. Returns 1, 0 for a syntax
// error, -1 for out of range.
int parse_field(const char *text, const cron_field *f, unsigned char *table);

// Parses exactly len characters of text as a name of the table (any case) or a
// decimal number up to 100000. Returns 1 and stores *out, or 0.
int parse_value(const char *text, int len, const char *const *names, int nnames, int first,
                int *out);

// Writes the English description of a valid record into out (capacity
// CRON_DESCRIPTION_CAP).
void cron_describe(const cron_expr *ce, char *out);

// Stores up to five whole-minute run times strictly after now, ascending,
// matched in UTC over k_horizon_days days from today (days outside
// k_first_day..k_last_day are not searched). Returns the count; 0 without a
// search for an invalid or boot-only record.
int cron_next_runs(const cron_expr *ce, int64_t now, int64_t out[CRON_MAX_RUNS]);

// Stores up to five whole-minute run times strictly after now, ascending, as
// the cron daemon finds them in the process's local zone: its day rule, and
// its daylight-saving rules (see local.cpp), in the conversion zone, through
// the zone cache. Searches k_horizon_days + 1 local days from the day before
// today. Returns the count; 0 for an invalid or boot-only record, a now
// beyond k_time_limit either side of 1970, or a time the zone cannot
// convert.
int cron_next_runs_local(const cron_expr *ce, int64_t now, int64_t out[CRON_MAX_RUNS]);
