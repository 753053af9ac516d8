#include <string.h>

#include "cron/cron.h"
#include "util/str.h"

const char *const k_dow_names[7] = {"sun", "mon", "tue", "wed", "thu", "fri", "sat"};
const char *const k_mon_names[12] = {"jan", "feb", "mar", "apr", "may", "jun",
                                     "jul", "aug", "sep", "oct", "nov", "dec"};
const char *const k_dow_long[7] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                   "Thursday", "Friday", "Saturday"};
const char *const k_mon_long[12] = {"January",   "February", "March",    "April",
                                    "May",       "June",     "July",     "August",
                                    "September", "October",  "November", "December"};

const cron_field k_cron_fields[5] = {
    {"minute", 0, 59, nullptr, 0, 0, "bad minute field", "minute out of range 0-59"},
    {"hour", 0, 23, nullptr, 0, 0, "bad hour field", "hour out of range 0-23"},
    {"day_of_month", 1, 31, nullptr, 0, 0, "bad day-of-month field",
     "day-of-month out of range 1-31"},
    {"month", 1, 12, k_mon_names, 12, 1, "bad month field", "month out of range 1-12"},
    {"day_of_week", 0, 7, k_dow_names, 7, 0, "bad day-of-week field",
     "day-of-week out of range 0-7"},
};

const cron_keyword k_cron_keywords[8] = {
    {"@reboot",
     -1,
     -1,
     -1,
     -1,
     -1,
     0,
     0,
     1,
     "When the system starts",
     {"@reboot", "@reboot", "@reboot", "@reboot", "@reboot"}},
    {"@hourly", 0, -1, -1, -1, -1, 0, 0, 0, "Every hour, on the hour", {"0", "*", "*", "*", "*"}},
    {"@daily", 0, 0, -1, -1, -1, 0, 0, 0, "Every day at midnight", {"0", "0", "*", "*", "*"}},
    {"@midnight", 0, 0, -1, -1, -1, 0, 0, 0, "Every day at midnight", {"0", "0", "*", "*", "*"}},
    {"@weekly", 0, 0, -1, -1, 0, 0, 1, 0, "Every Sunday at midnight", {"0", "0", "*", "*", "0"}},
    {"@monthly",
     0,
     0,
     1,
     -1,
     -1,
     1,
     0,
     0,
     "The 1st of every month at midnight",
     {"0", "0", "1", "*", "*"}},
    {"@yearly", 0, 0, 1, 1, -1, 1, 0, 0, "1 January at midnight", {"0", "0", "1", "1", "*"}},
    {"@annually", 0, 0, 1, 1, -1, 1, 0, 0, "1 January at midnight", {"0", "0", "1", "1", "*"}},
};

const cron_keyword *cron_keyword_find(const char *name) {
    for (const cron_keyword &k : k_cron_keywords)
        if (strcmp(name, k.name) == 0) return &k;
    return nullptr;
}

namespace {

void narrow(unsigned char *table, int size, int only) {
    if (only < 0) return;
    memset(table, 0, (size_t)size);
    table[only] = 1;
}

int fail(cron_expr *ce, const char *text) {
    str_set(ce->error, text);
    return 0;
}

int succeed(cron_expr *ce) {
    ce->valid = 1;
    cron_describe(ce, ce->description);
    return 1;
}

int all_set(const unsigned char *table, int from, int to) {
    for (int i = from; i <= to; i++)
        if (!table[i]) return 0;
    return 1;
}

// The whole trimmed text must be the keyword: "@daily x" is no @daily.
int parse_keyword(cron_expr *ce, const char *work) {
    const cron_keyword *k = cron_keyword_find(work);
    if (!k) return fail(ce, "unknown @keyword");
    str_set(ce->keyword, k->name);
    memset(ce->minutes, 1, sizeof ce->minutes);
    memset(ce->hours, 1, sizeof ce->hours);
    memset(ce->days_of_month, 1, sizeof ce->days_of_month);
    memset(ce->months, 1, sizeof ce->months);
    memset(ce->days_of_week, 1, sizeof ce->days_of_week);
    narrow(ce->minutes, 60, k->minute);
    narrow(ce->hours, 24, k->hour);
    narrow(ce->days_of_month, 32, k->dom);
    narrow(ce->months, 13, k->month);
    narrow(ce->days_of_week, 7, k->dow);
    ce->dom_restricted = k->dom_restricted;
    ce->dow_restricted = k->dow_restricted;
    ce->boot_only = k->boot_only;
    return succeed(ce);
}

// N of a field written "*/N...", read as atoi would; 0 for any other field.
int32_t step_of(const char *field) {
    if (field[0] != '*' || field[1] != '/') return 0;
    int32_t n = 0;
    for (const char *p = field + 2; *p >= '0' && *p <= '9' && n <= 100000; p++)
        n = n * 10 + (*p - '0');
    return n;
}

// Splits the trimmed text into exactly five fields, keeps their texts for
// display and parses each whole into its presence table; Sunday may be 7.
int parse_fields(cron_expr *ce, char *work) {
    // Split on runs of white space; the text is trimmed, so no field is empty.
    char *fields[5];
    int n = 0;
    for (char *p = work; *p;) {
        if (n == 5) return fail(ce, "too many fields");
        fields[n++] = p;
        while (*p && !is_space((unsigned char)*p)) p++;
        while (*p && is_space((unsigned char)*p)) *p++ = 0;
    }
    if (n < 5) return fail(ce, "expected 5 fields");
    for (int i = 0; i < 5; i++) {
        str_set(ce->field_text[i], fields[i]);
        ce->field_step[i] = step_of(fields[i]);
        ce->field_list[i] = strchr(fields[i], ',') != nullptr;
    }

    unsigned char dow8[8];
    unsigned char *targets[5] = {ce->minutes, ce->hours, ce->days_of_month, ce->months, dow8};
    const size_t sizes[5] = {sizeof ce->minutes, sizeof ce->hours, sizeof ce->days_of_month,
                             sizeof ce->months, sizeof dow8};
    for (int i = 0; i < 5; i++) {
        const cron_field &f = k_cron_fields[i];
        memset(targets[i], 0, sizes[i]);
        // The whole field is parsed, never the display copy.
        int rc = parse_field(fields[i], &f, targets[i]);
        if (rc == 0) return fail(ce, f.syntax_error);
        if (rc < 0) return fail(ce, f.range_error);
    }
    // 7 is Sunday too.
    for (int k = 0; k < 8; k++)
        if (dow8[k]) ce->days_of_week[k % 7] = 1;
    ce->dom_restricted = !all_set(ce->days_of_month, 1, 31);
    ce->dow_restricted = !all_set(ce->days_of_week, 0, 6);
    return succeed(ce);
}

} // namespace

// A name of the table (matched in lower case, up to 15 characters), else a
// decimal number.
int parse_value(const char *text, int len, const char *const *names, int nnames, int first,
                int *out) {
    if (len < 1) return 0;
    if (names && nnames > 0 && len <= 15) {
        char low[16];
        for (int i = 0; i < len; i++) {
            char c = text[i];
            low[i] = (c >= 'A' && c <= 'Z') ? (char)(c - 'A' + 'a') : c;
        }
        low[len] = 0;
        for (int i = 0; i < nnames; i++)
            if (strcmp(low, names[i]) == 0) {
                *out = first + i;
                return 1;
            }
    }
    int v = 0;
    for (int i = 0; i < len; i++) {
        if (text[i] < '0' || text[i] > '9') return 0;
        v = v * 10 + (text[i] - '0');
        if (v > 100000) return 0;
    }
    *out = v;
    return 1;
}

namespace {

// item = range ["/" step]; range = "*" | value ["-" value]. Parses the item
// [item, item_end) of field f and marks its values in table. Returns 1, 0
// for a syntax error, -1 for a value out of range.
int parse_item(const char *item, const char *item_end, const cron_field *f, unsigned char *table) {
    const int lo = f->lo, hi = f->hi, nnames = f->nnames, first = f->first;
    const char *const *names = nnames > 0 ? f->names : nullptr;
    int step = 1, has_step = 0;
    const char *range_end = item_end;
    const char *slash = (const char *)memchr(item, '/', (size_t)(item_end - item));
    if (slash) {
        // The step is a count, not a value of the field: no names.
        if (!parse_value(slash + 1, (int)(item_end - slash - 1), nullptr, 0, 0, &step)) return 0;
        if (step == 0) return 0;
        if (step > hi - lo + 1) step = hi - lo + 1;
        has_step = 1;
        range_end = slash;
    }
    int start, stop;
    const int rlen = (int)(range_end - item);
    if (rlen == 1 && item[0] == '*') {
        start = lo;
        stop = hi;
    } else {
        const char *dash = (const char *)memchr(item, '-', (size_t)rlen);
        if (dash) {
            if (!parse_value(item, (int)(dash - item), names, nnames, first, &start)) return 0;
            if (!parse_value(dash + 1, (int)(range_end - dash - 1), names, nnames, first, &stop))
                return 0;
        } else {
            if (!parse_value(item, rlen, names, nnames, first, &start)) return 0;
            stop = has_step ? hi : start;
        }
        if (start < lo || start > hi || stop < start || stop > hi) return -1;
    }
    for (int v = start; v <= stop; v += step) table[v] = 1;
    return 1;
}

} // namespace

// Grammar of one field:
//   list  = item {"," item} [","]
//   item  = range ["/" step]
//   range = "*" | value ["-" value]
//   value = number | name
// Items are looked at in place, as spans of the text, so nothing is cut;
// blanks around an item are skipped.
int parse_field(const char *text, const cron_field *f, unsigned char *table) {
    const char *p = text, *end = text + strlen(text);
    if (p == end) return 0;
    for (;;) {
        const char *comma = (const char *)memchr(p, ',', (size_t)(end - p));
        const char *item = p, *item_end = comma ? comma : end;
        int last = !comma || comma + 1 == end;
        while (item < item_end && is_space((unsigned char)*item)) item++;
        while (item_end > item && is_space((unsigned char)item_end[-1])) item_end--;
        if (item == item_end) return 0;
        const int rc = parse_item(item, item_end, f, table);
        if (rc != 1) return rc;
        if (last) return 1;
        p = comma + 1;
    }
}

// Grammar: expression = keyword | field ws field ws field ws field ws field
int cron_parse(cron_expr *ce, const char *text) {
    memset(ce, 0, sizeof *ce);
    if (!text) text = "";
    str_set(ce->expr, text);
    const char *a = text, *b = text + strlen(text);
    while (a < b && is_space((unsigned char)*a)) a++;
    while (b > a && is_space((unsigned char)b[-1])) b--;
    if (a == b) return fail(ce, "empty expression");
    if (b - a > CRON_TEXT_MAX) return fail(ce, k_expr_too_long);
    char work[CRON_TEXT_MAX + 1];
    str_set_span(work, a, (size_t)(b - a));
    if (work[0] == '@') return parse_keyword(ce, work);
    return parse_fields(ce, work);
}
