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

namespace {

struct field_rule {
    int lo, hi;
    const char *const *names;
    int nnames, first;
    const char *syntax_error;
    const char *range_error;
};

const field_rule k_fields[5] = {
    {0, 59, nullptr, 0, 0, "bad minute field", "minute out of range 0-59"},
    {0, 23, nullptr, 0, 0, "bad hour field", "hour out of range 0-23"},
    {1, 31, nullptr, 0, 0, "bad day-of-month field", "day-of-month out of range 1-31"},
    {1, 12, k_mon_names, 12, 1, "bad month field", "month out of range 1-12"},
    {0, 7, k_dow_names, 7, 0, "bad day-of-week field", "day-of-week out of range 0-7"},
};

// "Any" slots of a keyword are 1; these narrow them. -1 leaves a table full.
struct keyword_rule {
    const char *name;
    int minute, hour, dom, month, dow;
    int dom_restricted, dow_restricted, boot_only;
};

const keyword_rule k_keywords[8] = {
    {"@reboot", -1, -1, -1, -1, -1, 0, 0, 1}, {"@hourly", 0, -1, -1, -1, -1, 0, 0, 0},
    {"@daily", 0, 0, -1, -1, -1, 0, 0, 0},    {"@midnight", 0, 0, -1, -1, -1, 0, 0, 0},
    {"@weekly", 0, 0, -1, -1, 0, 0, 1, 0},    {"@monthly", 0, 0, 1, -1, -1, 1, 0, 0},
    {"@yearly", 0, 0, 1, 1, -1, 1, 0, 0},     {"@annually", 0, 0, 1, 1, -1, 1, 0, 0},
};

void narrow(unsigned char *table, int size, int only) {
    if (only < 0) return;
    memset(table, 0, (size_t)size);
    table[only] = 1;
}

int fail(cron_expr *ce, const char *text) {
    str_copy(ce->error, sizeof ce->error, text);
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

int parse_keyword(cron_expr *ce, const char *work) {
    // Only the first 23 characters are looked at, trimmed again.
    char kw[24];
    str_copy(kw, sizeof kw, work);
    str_trim(kw);
    const keyword_rule *k = nullptr;
    for (const keyword_rule &r : k_keywords)
        if (strcmp(kw, r.name) == 0) {
            k = &r;
            break;
        }
    if (!k) return fail(ce, "unknown @keyword");
    str_copy(ce->keyword, sizeof ce->keyword, k->name);
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
    for (int i = 0; i < 5; i++) str_copy(ce->field_text[i], sizeof ce->field_text[i], fields[i]);

    unsigned char dow8[8];
    unsigned char *targets[5] = {ce->minutes, ce->hours, ce->days_of_month, ce->months, dow8};
    const size_t sizes[5] = {sizeof ce->minutes, sizeof ce->hours, sizeof ce->days_of_month,
                             sizeof ce->months, sizeof dow8};
    for (int i = 0; i < 5; i++) {
        const field_rule &f = k_fields[i];
        memset(targets[i], 0, sizes[i]);
        int rc = ce->field_text[i][0] ? parse_field(ce->field_text[i], f.lo, f.hi, f.names,
                                                    f.nnames, f.first, targets[i])
                                      : 0;
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

// Grammar of one field:
//   list  = item {"," item} [","]
//   item  = range ["/" step]
//   range = "*" | value ["-" value]
//   value = number | name
int parse_field(const char *text, int lo, int hi, const char *const *names, int nnames, int first,
                unsigned char *table) {
    size_t tlen = strlen(text);
    if (tlen == 0 || tlen > 255) return 0;
    char buf[256];
    memcpy(buf, text, tlen + 1);
    if (nnames <= 0) names = nullptr;

    char *p = buf;
    for (;;) {
        char *comma = strchr(p, ',');
        int last = !comma || comma[1] == 0;
        if (comma) *comma = 0;
        str_trim(p);
        if (!*p) return 0;

        int step = 1, has_step = 0;
        char range[128];
        char *slash = strchr(p, '/');
        if (slash) {
            size_t rlen = (size_t)(slash - p);
            if (rlen > 127) return 0;
            memcpy(range, p, rlen);
            range[rlen] = 0;
            // The step is a count, not a value of the field: no names.
            if (!parse_value(slash + 1, (int)strlen(slash + 1), nullptr, 0, 0, &step)) return 0;
            if (step == 0) return 0;
            if (step > hi - lo + 1) step = hi - lo + 1;
            has_step = 1;
        } else {
            str_copy(range, sizeof range, p);
        }

        int start, end;
        if (strcmp(range, "*") == 0) {
            start = lo;
            end = hi;
        } else {
            char *dash = strchr(range, '-');
            if (dash) {
                if (!parse_value(range, (int)(dash - range), names, nnames, first, &start))
                    return 0;
                if (!parse_value(dash + 1, (int)strlen(dash + 1), names, nnames, first, &end))
                    return 0;
            } else {
                if (!parse_value(range, (int)strlen(range), names, nnames, first, &start)) return 0;
                end = has_step ? hi : start;
            }
            if (start < lo || start > hi || end < start || end > hi) return -1;
        }
        for (int v = start; v <= end; v += step) table[v] = 1;

        if (last) return 1;
        p = comma + 1;
    }
}

// Grammar: expression = keyword | field ws field ws field ws field ws field
int cron_parse(cron_expr *ce, const char *text) {
    memset(ce, 0, sizeof *ce);
    str_copy(ce->expr, sizeof ce->expr, text);
    char work[256];
    str_copy(work, sizeof work, ce->expr);
    str_trim(work);
    if (!work[0]) return fail(ce, "empty expression");
    if (work[0] == '@') return parse_keyword(ce, work);
    return parse_fields(ce, work);
}
