// Calendar events as systemd.time(7) defines them. Grammar of one value:
//
//   value    = (shorthand | "@" seconds | event) [" " zone]
//   event    = [weekdays " "] [date " "] [time]      at least one part
//   weekdays = wday {("," | ".." | "-") wday} [","]  ranges ascending, no wrap
//   wday     = Monday..Sunday or Mon..Sun, any case
//   date     = [chain "-"] chain ("-" | "~") chain   "~": days before month end
//   time     = chain ":" chain [":" chain]           missing seconds are ":00"
//   chain    = "*" | item {"," item}
//   item     = number [".." number] ["/" number]     seconds take 6 decimals
//   zone     = "UTC" (any case) | the node's own zone abbreviation | a name
//              of the zone database ("Europe/Berlin")
//
// A missing date is every day, a missing time 00:00:00. A year below 70 is
// 20xx, below 100 19xx. Bounds: years 1970..2199, months 1..12, days 1..31,
// hours 0..23, minutes and seconds 0..59. Blanks may repeat between parts.
#include "cron/calendar.h"

#include <string.h>

#include "cron/cal_tables.h"
#include "cron/civil.h"
#include "cron/cron.h"
#include "cron/zone_cache.h"
#include "util/platform.h"
#include "util/str.h"

const cal_level_rule k_cal_levels[CAL_LEVELS] = {
    {1970, k_last_year, 1},       {1, 12, 1}, {1, 31, 1}, {0, 23, 1}, {0, 59, 1},
    {0, 60 * k_usec - 1, k_usec},
};

const cal_shorthand k_cal_shorthands[CAL_SHORTHANDS] = {
    {"minutely", "*-*-* *:*:00", "Every minute"},
    {"hourly", "*-*-* *:00:00", "Every hour, on the hour"},
    {"daily", "*-*-* 00:00:00", "Every day at 00:00"},
    {"monthly", "*-*-01 00:00:00", "The 1st of every month at 00:00"},
    {"weekly", "Mon *-*-* 00:00:00", "Every Monday at 00:00"},
    {"yearly", "*-01-01 00:00:00", "Every 1 January at 00:00"},
    {"annually", "*-01-01 00:00:00", "Every 1 January at 00:00"},
    {"quarterly", "*-01,04,07,10-01 00:00:00", "On 1 January, April, July and October at 00:00"},
    {"semiannually", "*-01,07-01 00:00:00", "On 1 January and July at 00:00"},
    {"semi-annually", "*-01,07-01 00:00:00", "On 1 January and July at 00:00"},
    {"biannually", "*-01,07-01 00:00:00", "On 1 January and July at 00:00"},
    {"bi-annually", "*-01,07-01 00:00:00", "On 1 January and July at 00:00"},
};

namespace {

// The parser's cursor over text[0..end) and the first error met.
struct cursor {
    const char *p, *end;
    const char *error;
};

int at_end(const cursor *c) {
    return c->p >= c->end;
}

int peek(const cursor *c) {
    return at_end(c) ? 0 : (unsigned char)*c->p;
}

int fail(cursor *c, const char *error) {
    if (!c->error) c->error = error;
    return 0;
}

void skip_blanks(cursor *c) {
    while (peek(c) == ' ') c->p++;
}

// The length of word when [p, end) starts with it in any case, else 0.
size_t starts_nocase(const char *p, const char *end, const char *word) {
    size_t n = strlen(word);
    if ((size_t)(end - p) < n) return 0;
    for (size_t i = 0; i < n; i++) {
        char a = p[i], b = word[i];
        if (a >= 'A' && a <= 'Z') a = (char)(a - 'A' + 'a');
        if (b >= 'A' && b <= 'Z') b = (char)(b - 'A' + 'a');
        if (a != b) return 0;
    }
    return n;
}

int equals_nocase(const char *p, const char *end, const char *word) {
    return (size_t)(end - p) == strlen(word) && starts_nocase(p, end, word) > 0;
}

// Reads a decimal number; with fraction set, up to six decimals (rounded
// at the seventh) and the value in microseconds.
int parse_number(cursor *c, int fraction, int64_t *out) {
    if (peek(c) < '0' || peek(c) > '9') return 0;
    int64_t v = 0;
    while (peek(c) >= '0' && peek(c) <= '9') {
        v = v * 10 + (*c->p++ - '0');
        if (v > 2147483647) return fail(c, "value out of range");
    }
    if (!fraction) {
        *out = v;
        return 1;
    }
    int64_t frac = 0, scale = k_usec;
    // "1..5" is a range, not a fraction.
    if (peek(c) == '.' && c->p + 1 < c->end && c->p[1] >= '0' && c->p[1] <= '9') {
        c->p++;
        int digits = 0, round_up = 0;
        while (peek(c) >= '0' && peek(c) <= '9') {
            int d = *c->p++ - '0';
            if (digits < 6) {
                scale /= 10;
                frac += d * scale;
            } else if (digits == 6) {
                round_up = d >= 5;
            }
            digits++;
        }
        frac += round_up;
    }
    *out = v * k_usec + frac;
    return 1;
}

// chain = "*" | item {"," item}; item = number [".." number] ["/" number]
int parse_chain(cursor *c, int level, cal_field *f) {
    memset(f, 0, sizeof *f);
    int fraction = level == CAL_SECOND;
    if (peek(c) == '*') {
        c->p++;
        f->any = 1;
        return 1;
    }
    for (;;) {
        if (f->count == CAL_PARTS) return fail(c, "too many values in one field");
        cal_part *part = &f->parts[f->count++];
        part->stop = -1;
        if (!parse_number(c, fraction, &part->start)) return 0;
        if (peek(c) == '.' && c->p + 1 < c->end && c->p[1] == '.') {
            c->p += 2;
            if (!parse_number(c, fraction, &part->stop)) return 0;
            part->repeat = k_cal_levels[level].unit;
        }
        if (peek(c) == '/') {
            c->p++;
            if (!parse_number(c, fraction, &part->repeat)) return 0;
            if (part->repeat <= 0) return fail(c, "repetition must be greater than 0");
        }
        if (peek(c) != ',') return 1;
        c->p++;
    }
}

// The weekday (0 = Monday) whose full or three-letter name starts the text,
// any case, with the cursor moved past the name; -1 when none does.
int match_weekday(cursor *c) {
    // k_dow_long and k_dow_names start on Sunday.
    for (int i = 0; i < 7; i++)
        if (size_t n = starts_nocase(c->p, c->end, k_dow_long[i])) {
            c->p += n;
            return (i + 6) % 7;
        }
    for (int i = 0; i < 7; i++)
        if (size_t n = starts_nocase(c->p, c->end, k_dow_names[i])) {
            c->p += n;
            return (i + 6) % 7;
        }
    return -1;
}

// weekdays = wday {("," | ".." | "-") wday} [","]; absent when no name starts
// the text. "-" is systemd's older way of writing a range, still accepted.
int parse_weekdays(cursor *c, cal_spec *cs) {
    int day = match_weekday(c);
    if (day < 0) return 1;
    int range_from = -1;
    for (;;) {
        if (range_from >= 0) {
            if (day < range_from) return fail(c, "weekday range runs backwards");
            for (int d = range_from; d <= day; d++) cs->weekdays |= 1 << d;
        } else {
            cs->weekdays |= 1 << day;
        }
        int was_range = range_from >= 0;
        range_from = -1;
        if (at_end(c) || peek(c) == ' ') return 1;
        if (peek(c) == ',') {
            c->p++;
            if (at_end(c) || peek(c) == ' ') return 1;
        } else if (peek(c) == '.' && c->p + 1 < c->end && c->p[1] == '.' && !was_range) {
            c->p += 2;
            range_from = day;
        } else if (peek(c) == '-' && !was_range) {
            c->p++;
            range_from = day;
        } else {
            return fail(c, "invalid weekday");
        }
        day = match_weekday(c);
        if (day < 0) return fail(c, "invalid weekday");
    }
}

// date = [chain "-"] chain ("-" | "~") chain. A first chain followed by ":"
// is the time, and the text is left for the time parser.
int parse_date(cursor *c, cal_spec *cs) {
    const char *start = c->p;
    if (at_end(c)) return 1;
    cal_field first, second, third;
    if (!parse_chain(c, CAL_YEAR, &first)) {
        // Left for the time parser to report.
        c->error = nullptr;
        c->p = start;
        return 1;
    }
    if (peek(c) == ':') {
        c->p = start;
        return 1;
    }
    int sep = peek(c);
    if (sep != '-' && sep != '~') return fail(c, "invalid date");
    c->p++;
    if (!parse_chain(c, CAL_MONTH, &second)) return fail(c, "invalid date");
    if (sep == '-' && (peek(c) == '-' || peek(c) == '~')) {
        cs->end_of_month = peek(c) == '~';
        c->p++;
        if (!parse_chain(c, CAL_DAY, &third)) return fail(c, "invalid date");
        cs->fields[CAL_YEAR] = first;
        cs->fields[CAL_MONTH] = second;
        cs->fields[CAL_DAY] = third;
    } else {
        cs->end_of_month = sep == '~';
        cs->fields[CAL_MONTH] = first;
        cs->fields[CAL_DAY] = second;
    }
    if (!at_end(c) && peek(c) != ' ') return fail(c, "invalid date");
    return 1;
}

// time = chain ":" chain [":" chain]
int parse_time(cursor *c, cal_spec *cs) {
    cal_field *f = cs->fields;
    if (at_end(c)) {
        for (int level = CAL_HOUR; level <= CAL_SECOND; level++) {
            f[level].any = 0;
            f[level].count = 1;
            f[level].parts[0] = {0, -1, 0};
        }
        return 1;
    }
    if (!parse_chain(c, CAL_HOUR, &f[CAL_HOUR]) || peek(c) != ':') return fail(c, "invalid time");
    c->p++;
    if (!parse_chain(c, CAL_MINUTE, &f[CAL_MINUTE])) return fail(c, "invalid time");
    if (peek(c) == ':') {
        c->p++;
        if (!parse_chain(c, CAL_SECOND, &f[CAL_SECOND])) return fail(c, "invalid time");
    } else {
        f[CAL_SECOND].any = 0;
        f[CAL_SECOND].count = 1;
        f[CAL_SECOND].parts[0] = {0, -1, 0};
    }
    if (!at_end(c)) return fail(c, "unexpected text after the time");
    return 1;
}

int64_t two_digit_year(int64_t y) {
    if (y < 70) return y + 2000;
    if (y < 100) return y + 1900;
    return y;
}

// Rewrites the parsed fields into the form the search reads, checking them
// on the way: two-digit years become full years (see two_digit_year), every
// value must lie within its level's bounds ("~" days within 1..28), and a
// stepped range's stop moves back to its last step. Returns 1, or 0 with the
// first error in c.
int normalize_fields(cal_spec *cs, cursor *c) {
    cal_field *years = &cs->fields[CAL_YEAR];
    for (int i = 0; i < years->count; i++) {
        years->parts[i].start = two_digit_year(years->parts[i].start);
        if (years->parts[i].stop >= 0) years->parts[i].stop = two_digit_year(years->parts[i].stop);
    }
    for (int level = 0; level < CAL_LEVELS; level++) {
        cal_field *f = &cs->fields[level];
        int64_t lo = k_cal_levels[level].lo, hi = k_cal_levels[level].hi;
        // "~n" counts back over the days every month has.
        int backwards = level == CAL_DAY && cs->end_of_month;
        if (backwards) hi = 28;
        for (int i = 0; i < f->count; i++) {
            cal_part *p = &f->parts[i];
            if (p->start < lo || p->start > hi) return fail(c, "value out of range");
            // An open repetition has to reach a second value within bounds.
            if (p->stop < 0 && p->repeat &&
                (backwards ? p->start - p->repeat < lo : p->start + p->repeat > hi))
                return fail(c, "repetition too large");
            if (p->stop < 0) continue;
            if (p->stop < p->start) return fail(c, "range runs backwards");
            // A stepped range ends on its last step; for "~" ranges that
            // end is where the counting from the month's end begins.
            p->stop = p->start + (p->stop - p->start) / p->repeat * p->repeat;
            if (p->stop > hi) return fail(c, "value out of range");
        }
    }
    return 1;
}

int parse_event(cursor *c, cal_spec *cs) {
    for (int level = 0; level < CAL_LEVELS; level++) cs->fields[level].any = 1;
    if (!parse_weekdays(c, cs)) return 0;
    skip_blanks(c);
    if (!parse_date(c, cs)) return 0;
    skip_blanks(c);
    if (!parse_time(c, cs)) return 0;
    return normalize_fields(cs, c);
}

// "@seconds": one moment, in UTC.
int parse_epoch(cursor *c, cal_spec *cs) {
    c->p++;
    int64_t t = 0;
    if (at_end(c)) return fail(c, "invalid time stamp");
    while (peek(c) >= '0' && peek(c) <= '9') {
        t = t * 10 + (*c->p++ - '0');
        if (t > k_time_limit) return fail(c, "value out of range");
    }
    if (!at_end(c)) return fail(c, "invalid time stamp");
    int64_t y;
    int m, d;
    civil_from_days(t / 86400, &y, &m, &d);
    int64_t values[CAL_LEVELS] = {y, m, d, t % 86400 / 3600, t % 3600 / 60, t % 60 * k_usec};
    for (int level = 0; level < CAL_LEVELS; level++) {
        cs->fields[level].count = 1;
        cs->fields[level].parts[0] = {values[level], -1, 0};
    }
    cs->utc = 1;
    cs->zone[0] = 0;
    cs->dst = -1;
    return normalize_fields(cs, c);
}

// The node's own zone abbreviations, asked once per TZ setting of the node
// (asking means reading the zone file again), by the zone cache's key rule.
void node_abbrevs(const char **std_name, const char **dst_name) {
    static char s_std[16], s_dst[16], s_key[ZONE_KEY_CAP];
    char key[ZONE_KEY_CAP];
    zone_key(key, plat_node_tz());
    if (!key[0] || strcmp(key, s_key) != 0) {
        const char *a, *b;
        plat_node_zone_abbrevs(&a, &b);
        str_set(s_std, a);
        str_set(s_dst, b);
        str_set(s_key, key);
    }
    *std_name = s_std;
    *dst_name = s_dst;
}

// Takes a trailing zone off [text, *end) into cs: "UTC" (any case), the
// node's own standard or daylight-saving abbreviation (whatever zone is
// pushed for conversions), or a zone of the database. A last word that is
// none of them stays part of the event. Returns 1, or 0 with the error in c
// when nothing is left before the zone.
int split_zone(const char *text, const char **end, cal_spec *cs, cursor *c) {
    const char *space = nullptr;
    for (const char *p = text; p < *end; p++)
        if (*p == ' ') space = p;
    if (!space) return 1;
    const char *word = space + 1;
    const char *std_name, *dst_name;
    node_abbrevs(&std_name, &dst_name);
    char name[64];
    size_t n = (size_t)(*end - word);
    if (n >= sizeof name) return 1;
    memcpy(name, word, n);
    name[n] = 0;
    if (equals_nocase(word, *end, "UTC")) {
        cs->utc = 1;
    } else if (std_name[0] && strcmp(name, std_name) == 0) {
        cs->dst = 0;
    } else if (dst_name[0] && strcmp(name, dst_name) == 0) {
        cs->dst = 1;
    } else if (plat_zone_exists(name)) {
        str_copy(cs->zone, sizeof cs->zone, name);
    } else {
        return 1;
    }
    *end = space;
    if (space == text) return fail(c, "empty calendar expression");
    return 1;
}

} // namespace

// Splits off the zone, then reads "@seconds", a shorthand or an event; an
// event that fails on a last word that could only be a zone name reports the
// zone.
int cal_parse(cal_spec *cs, const char *text) {
    memset(cs, 0, sizeof *cs);
    cs->dst = -1;
    if (!text) text = "";
    const char *end = text + strlen(text);
    cursor c = {text, end, nullptr};
    int ok = split_zone(text, &end, cs, &c);
    c.end = end;
    if (ok && text == end) ok = fail(&c, "empty calendar expression");
    if (ok && text[0] == '@') {
        ok = parse_epoch(&c, cs);
    } else if (ok) {
        const cal_shorthand *sh = nullptr;
        for (const cal_shorthand &s : k_cal_shorthands)
            if (equals_nocase(text, end, s.name)) sh = &s;
        if (sh) {
            str_copy(cs->label, sizeof cs->label, sh->name);
            cursor inner = {sh->event, sh->event + strlen(sh->event), nullptr};
            ok = parse_event(&inner, cs);
        } else {
            ok = parse_event(&c, cs);
            // A last word that is no zone of the database reads best as one.
            if (!ok && c.error && strchr(text, ' ')) {
                const char *last = strrchr(text, ' ') + 1;
                int letters = (*last >= 'A' && *last <= 'Z') || (*last >= 'a' && *last <= 'z');
                cursor probe = {last, text + strlen(text), nullptr};
                if (letters && !strchr(last, ':') && match_weekday(&probe) < 0)
                    c.error = "unknown time zone";
            }
        }
    }
    if (!ok) {
        str_copy(cs->error, sizeof cs->error, c.error ? c.error : "invalid calendar expression");
        return 0;
    }
    cs->valid = 1;
    return 1;
}
