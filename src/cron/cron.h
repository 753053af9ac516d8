// Cron expression engine: the parsed record, its parser, the next-run search
// and the English description.
#pragma once
#include <stdint.h>

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
    char description[224];
    // What the description needs of the whole field texts, which field_text
    // may hold only in part: N of a field written "*/N..." (else 0), and
    // whether the field is a comma list.
    int32_t field_step[5];
    int32_t field_list[5];
};

// The longest expression judged, after trimming; a longer one is rejected
// with "expression too long" rather than judged in part.
enum { CRON_TEXT_MAX = 1023 };

// One of the five fields: its key in answers, its values, the names it
// accepts and its two error texts.
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

extern const char *const k_dow_names[7];
extern const char *const k_mon_names[12];
extern const char *const k_dow_long[7];
extern const char *const k_mon_long[12];

enum { CRON_MAX_RUNS = 5 };

// Parses a five-field expression or @keyword into ce, rewriting it in full.
// The whole text is judged (after trimming); expr and field_text keep what
// fits of it for display. Returns 1 (valid, description written) or 0
// (error text set).
int cron_parse(cron_expr *ce, const char *text);

// Parses one comma list (any length) of a field with values lo..hi into
// table, which the caller has cleared. Returns 1, 0 for a syntax error, -1
// for out of range.
int parse_field(const char *text, int lo, int hi, const char *const *names, int nnames, int first,
                unsigned char *table);

// Parses exactly len characters of text as a name of the table (any case) or a
// decimal number up to 100000. Returns 1 and stores *out, or 0.
int parse_value(const char *text, int len, const char *const *names, int nnames, int first,
                int *out);

// Writes the English description of a valid record into out (capacity 224).
void cron_describe(const cron_expr *ce, char *out);

// Stores up to five whole-minute run times strictly after now, ascending,
// matched in UTC over 7305 days from today. Returns the count; 0 without a
// search for an invalid or boot-only record.
int cron_next_runs(const cron_expr *ce, int64_t now, int64_t out[CRON_MAX_RUNS]);

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

// Stores up to five whole-minute run times strictly after now, ascending, as
// the cron daemon finds them in the process's local zone: its day rule, and
// its daylight-saving rules (see local.cpp). Searches 7306 local days from
// the day before today. Returns the count; 0 for an invalid or boot-only
// record, or a time the zone cannot convert.
int cron_next_runs_local(const cron_expr *ce, int64_t now, int64_t out[CRON_MAX_RUNS]);

// Days from 1970-01-01 to the proleptic Gregorian date y-m-d, and back.
int64_t days_from_civil(int64_t y, int m, int d);
void civil_from_days(int64_t days, int64_t *y, int *m, int *d);

// The number of days of month m (1..12) of year y.
int month_length(int64_t y, int m);
