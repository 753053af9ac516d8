// Calendar events as systemd.time(7) defines them. Grammar of one value:
//
//   value    = (shorthand | "@" seconds | event) [" " zone]
//   event    = [weekdays " "] [date " "] [time]      at least one part
//   weekdays = wday {("," | "..") wday} [","]        ranges ascending, no wrap
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

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "cron/cron.h"
#include "util/platform.h"
#include "util/str.h"

namespace {

constexpr int64_t k_usec = 1000000;
constexpr int k_last_year = 2199;
constexpr int64_t k_horizon_days = 7305;

struct level_rule {
    int64_t lo, hi; // bounds of start and stop, seconds in microseconds
    int64_t unit;   // step of a range without "/"
};

const level_rule k_levels[CAL_LEVELS] = {
    {1970, k_last_year, 1},       {1, 12, 1}, {1, 31, 1}, {0, 23, 1}, {0, 59, 1},
    {0, 60 * k_usec - 1, k_usec},
};

const char *const k_day_long[7] = {"Monday", "Tuesday",  "Wednesday", "Thursday",
                                   "Friday", "Saturday", "Sunday"};
const char *const k_day_short[7] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};

struct shorthand {
    const char *name;
    const char *event;
};

const shorthand k_shorthands[12] = {
    {"minutely", "*-*-* *:*:00"},
    {"hourly", "*-*-* *:00:00"},
    {"daily", "*-*-* 00:00:00"},
    {"monthly", "*-*-01 00:00:00"},
    {"weekly", "Mon *-*-* 00:00:00"},
    {"yearly", "*-01-01 00:00:00"},
    {"annually", "*-01-01 00:00:00"},
    {"quarterly", "*-01,04,07,10-01 00:00:00"},
    {"semiannually", "*-01,07-01 00:00:00"},
    {"semi-annually", "*-01,07-01 00:00:00"},
    {"biannually", "*-01,07-01 00:00:00"},
    {"bi-annually", "*-01,07-01 00:00:00"},
};

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

int starts_nocase(const char *p, const char *end, const char *word) {
    size_t n = strlen(word);
    if ((size_t)(end - p) < n) return 0;
    for (size_t i = 0; i < n; i++) {
        char a = p[i], b = word[i];
        if (a >= 'A' && a <= 'Z') a = (char)(a - 'A' + 'a');
        if (b >= 'A' && b <= 'Z') b = (char)(b - 'A' + 'a');
        if (a != b) return 0;
    }
    return 1;
}

int equals_nocase(const char *p, const char *end, const char *word) {
    return (size_t)(end - p) == strlen(word) && starts_nocase(p, end, word);
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
            part->repeat = k_levels[level].unit;
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

int match_weekday(cursor *c) {
    for (int i = 0; i < 7; i++)
        if (starts_nocase(c->p, c->end, k_day_long[i])) {
            c->p += strlen(k_day_long[i]);
            return i;
        }
    for (int i = 0; i < 7; i++)
        if (starts_nocase(c->p, c->end, k_day_short[i])) {
            c->p += strlen(k_day_short[i]);
            return i;
        }
    return -1;
}

// weekdays = wday {("," | "..") wday} [","]; absent when no name starts the text.
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

int check_bounds(cal_spec *cs, cursor *c) {
    cal_field *years = &cs->fields[CAL_YEAR];
    for (int i = 0; i < years->count; i++) {
        years->parts[i].start = two_digit_year(years->parts[i].start);
        if (years->parts[i].stop >= 0) years->parts[i].stop = two_digit_year(years->parts[i].stop);
    }
    for (int level = 0; level < CAL_LEVELS; level++) {
        cal_field *f = &cs->fields[level];
        int64_t lo = k_levels[level].lo, hi = k_levels[level].hi;
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
    return check_bounds(cs, c);
}

// "@seconds": one moment, in UTC.
int parse_epoch(cursor *c, cal_spec *cs) {
    c->p++;
    int64_t t = 0;
    if (at_end(c)) return fail(c, "invalid time stamp");
    while (peek(c) >= '0' && peek(c) <= '9') {
        t = t * 10 + (*c->p++ - '0');
        if (t > (int64_t)1 << 40) return fail(c, "value out of range");
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
    return check_bounds(cs, c);
}

// Takes a trailing zone off [text, *end) into cs.
int split_zone(const char *text, const char **end, cal_spec *cs, cursor *c) {
    const char *space = nullptr;
    for (const char *p = text; p < *end; p++)
        if (*p == ' ') space = p;
    if (!space) return 1;
    const char *word = space + 1;
    // Asked once per zone setting: asking means reading the zone file again.
    static char std_name[16], dst_name[16], zone_of[128];
    static int known;
    const char *tz = getenv("TZ");
    if (!tz) tz = "";
    if (!known || strncmp(zone_of, tz, sizeof zone_of) != 0) {
        const char *a, *b;
        plat_zone_abbrevs(&a, &b);
        str_copy(std_name, sizeof std_name, a);
        str_copy(dst_name, sizeof dst_name, b);
        str_copy(zone_of, sizeof zone_of, tz);
        known = 1;
    }
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
        const shorthand *sh = nullptr;
        for (const shorthand &s : k_shorthands)
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

namespace {

int64_t floor_div(int64_t a, int64_t b) {
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

// The conversion zone's offset and daylight-saving flag at the start of the
// UTC days asked for so far, so that the C library is asked once per day. It
// outlives a search: the timers of one request look at the same few weeks.
// It belongs to the zone that TZ names and starts afresh when TZ changes.
enum { ZONE_DAYS = 512 };
struct zone_cache {
    int utc;
    char tz[128];
    int64_t day[ZONE_DAYS];
    int32_t offset[ZONE_DAYS];
    int32_t isdst[ZONE_DAYS];
    int32_t filled[ZONE_DAYS];
    // UTC days lo..hi over which the offset is known to stay the same.
    int32_t steady;
    int64_t steady_lo, steady_hi;
    int32_t steady_offset, steady_isdst;
    // The last conversion answered here rather than by mktime, while mktime
    // has not been called since. mktime resolves a wall time that occurs
    // twice by the offset of its own previous result, so before it is called
    // again it is shown this one, as if it had made every conversion.
    int32_t unseen;
    struct tm last;
};
zone_cache g_zone_cache;

// The cache for a search in UTC or in the conversion zone in force.
zone_cache *zone_cache_for(int utc) {
    zone_cache *z = &g_zone_cache;
    z->utc = utc;
    if (utc) return z;
    const char *tz = getenv("TZ");
    // An unset TZ ("-") differs from every value ("=value"); a value too long
    // for the key is never kept.
    char key[sizeof z->tz] = "-";
    if (tz) {
        const size_t len = strlen(tz);
        if (len + 2 > sizeof key) {
            key[0] = 0;
        } else {
            key[0] = '=';
            memcpy(key + 1, tz, len + 1);
        }
    }
    if (!key[0] || strcmp(key, z->tz) != 0) {
        memset(z->filled, 0, sizeof z->filled);
        z->steady = 0;
        z->unseen = 0;
        str_set(z->tz, key);
    }
    return z;
}

// The instant the fields name when read as UTC, overflowing fields carried
// (month 12 is January of the next year, second 60 the next minute).
int64_t wall_seconds(const struct tm *tm) {
    int64_t years = floor_div(tm->tm_mon, 12);
    int mon = (int)(tm->tm_mon - years * 12);
    int64_t days = days_from_civil(tm->tm_year + 1900 + years, mon + 1, 1) + tm->tm_mday - 1;
    return days * 86400 + (int64_t)tm->tm_hour * 3600 + (int64_t)tm->tm_min * 60 + tm->tm_sec;
}

// Sets the calendar fields of tm to the wall time w (seconds, read as UTC),
// at offset seconds east of UTC. When named is set the fields name w
// already, perhaps overflowing.
void set_wall(struct tm *tm, int64_t w, int isdst, int32_t offset, int named) {
    static const short k_before[13] = {0, 0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
    const int64_t days = floor_div(w, 86400);
    int64_t y = named ? (int64_t)tm->tm_year + 1900 : 0;
    int m = named ? tm->tm_mon + 1 : 0, d = named ? tm->tm_mday : 0;
    // Fields in range stay; others are carried.
    if (!named || m < 1 || m > 12 || d < 1 || d > month_length(y, m) || tm->tm_hour < 0 ||
        tm->tm_hour > 23 || tm->tm_min < 0 || tm->tm_min > 59 || tm->tm_sec < 0 ||
        tm->tm_sec > 59) {
        const int64_t s = w - days * 86400;
        civil_from_days(days, &y, &m, &d);
        tm->tm_year = (int)(y - 1900);
        tm->tm_mon = m - 1;
        tm->tm_mday = d;
        tm->tm_hour = (int)(s / 3600);
        tm->tm_min = (int)(s / 60 % 60);
        tm->tm_sec = (int)(s % 60);
    }
    tm->tm_wday = (int)(((days % 7) + 11) % 7);
    tm->tm_yday = k_before[m] + d - 1 + (m > 2 && month_length(y, 2) == 29);
    tm->tm_isdst = isdst;
#ifndef _WIN32
    tm->tm_gmtoff = offset;
#else
    (void)offset;
#endif
}

int zone_state(zone_cache *z, int64_t day, int32_t *offset, int32_t *isdst) {
    const int slot = (int)(day & (ZONE_DAYS - 1));
    if (!z->filled[slot] || z->day[slot] != day) {
        struct tm tm;
        if (!plat_localtime(day * 86400, &tm)) return 0;
        z->day[slot] = day;
        z->offset[slot] = (int32_t)(wall_seconds(&tm) - day * 86400);
        z->isdst[slot] = tm.tm_isdst > 0;
        z->filled[slot] = 1;
    }
    *offset = z->offset[slot];
    *isdst = z->isdst[slot];
    return 1;
}

// The one offset of the UTC days from day - 1 to day + 2, which hold every
// instant a wall time of local day day can be. Returns 0 when a clock change
// is near (two changes within three days are not looked for).
int steady_offset(zone_cache *z, int64_t day, int32_t *offset, int32_t *isdst) {
    if (!z->steady || day - 1 < z->steady_lo || day + 2 > z->steady_hi) {
        // Asked at each day's start, so that only a change undone within a
        // day (which no zone of the database has) could pass unseen.
        int32_t before = 0, dst_before = 0;
        for (int64_t d = day - 1; d <= day + 2; d++) {
            int32_t o, dst;
            if (!zone_state(z, d, &o, &dst)) return 0;
            if (d == day - 1) {
                before = o;
                dst_before = dst;
            } else if (o != before || dst != dst_before) {
                return 0;
            }
        }
        // Overlapping steady spans of one offset make one span.
        if (z->steady && before == z->steady_offset && dst_before == z->steady_isdst &&
            day - 1 <= z->steady_hi && day + 2 >= z->steady_lo) {
            if (day - 1 < z->steady_lo) z->steady_lo = day - 1;
            if (day + 2 > z->steady_hi) z->steady_hi = day + 2;
        } else {
            z->steady = 1;
            z->steady_lo = day - 1;
            z->steady_hi = day + 2;
            z->steady_offset = before;
            z->steady_isdst = dst_before;
        }
    }
    *offset = z->steady_offset;
    *isdst = z->steady_isdst;
    return 1;
}

// plat_mktime itself, in the local zone shown first the last conversion made
// without it (see zone_cache.last).
int64_t c_mktime(zone_cache *z, struct tm *tm) {
    if (!z->utc && z->unseen) {
        struct tm seen = z->last;
        plat_mktime(&seen, 0);
        z->unseen = 0;
    }
    return plat_mktime(tm, z->utc);
}

// plat_mktime, answered without the C library where the fields name exactly
// one instant: in UTC, and on a day with one offset from the day before to
// the day after (no clock change near). Days near a change, and a
// daylight-saving flag the day does not have, are left to it.
int64_t to_time(zone_cache *z, struct tm *tm) {
    const int year = tm->tm_year + 1900;
    if (year < 1971 || year > k_last_year + 1) return c_mktime(z, tm);
    const int64_t w = wall_seconds(tm);
    if (z->utc) {
        set_wall(tm, w, 0, 0, 1);
        return w;
    }
    const int64_t day = floor_div(w, 86400);
    int32_t offset, isdst;
    if (steady_offset(z, day, &offset, &isdst) &&
        (tm->tm_isdst < 0 || (tm->tm_isdst > 0) == isdst)) {
        set_wall(tm, w, isdst, offset, 1);
        z->last = *tm;
        z->unseen = 1;
        return w - offset;
    }
    return c_mktime(z, tm);
}

// Day number of "~n" in a month of dim days, or -1 when the month is shorter.
int64_t from_month_end(int64_t n, int dim) {
    return n >= 0 && dim - n + 1 >= 1 ? dim - n + 1 : -1;
}

// Smallest value >= v that the field selects, or -1. For "~" days the parts
// are first turned into days of this month (dim days long).
int64_t field_next(const cal_field *f, int64_t v, int end_of_month, int dim) {
    if (f->any) return v;
    int64_t best = -1;
    for (int i = 0; i < f->count; i++) {
        int64_t start = f->parts[i].start, stop = f->parts[i].stop, repeat = f->parts[i].repeat;
        if (end_of_month) {
            start = from_month_end(start, dim);
            stop = stop >= 0 ? from_month_end(stop, dim) : -1;
            if (stop > 0) {
                int64_t t = start;
                start = stop;
                stop = t;
            }
        }
        int64_t k = -1;
        if (start >= v) {
            k = start;
        } else if (repeat > 0) {
            k = start + repeat * ((v - start + repeat - 1) / repeat);
            if (stop >= 0 && k > stop) k = -1;
        }
        if (k >= 0 && (best < 0 || k < best)) best = k;
    }
    return best;
}

// The search cursor: calendar fields in the conversion zone, plus the
// microseconds of the second.
struct moment {
    struct tm tm;
    int64_t usec;
};

int64_t level_value(const moment *m, int level) {
    switch (level) {
    case CAL_YEAR:
        return m->tm.tm_year + 1900;
    case CAL_MONTH:
        return m->tm.tm_mon + 1;
    case CAL_DAY:
        return m->tm.tm_mday;
    case CAL_HOUR:
        return m->tm.tm_hour;
    case CAL_MINUTE:
        return m->tm.tm_min;
    default:
        return m->tm.tm_sec * k_usec + m->usec;
    }
}

void set_level(moment *m, int level, int64_t v) {
    switch (level) {
    case CAL_YEAR:
        m->tm.tm_year = (int)(v - 1900);
        break;
    case CAL_MONTH:
        m->tm.tm_mon = (int)(v - 1);
        break;
    case CAL_DAY:
        m->tm.tm_mday = (int)v;
        break;
    case CAL_HOUR:
        m->tm.tm_hour = (int)v;
        break;
    case CAL_MINUTE:
        m->tm.tm_min = (int)v;
        break;
    default:
        m->tm.tm_sec = (int)(v / k_usec);
        m->usec = v % k_usec;
        break;
    }
}

// Every level below level goes back to its first value.
void clear_below(moment *m, int level) {
    if (level < CAL_MONTH) m->tm.tm_mon = 0;
    if (level < CAL_DAY) m->tm.tm_mday = 1;
    if (level < CAL_HOUR) m->tm.tm_hour = 0;
    if (level < CAL_MINUTE) m->tm.tm_min = 0;
    if (level < CAL_SECOND) {
        m->tm.tm_sec = 0;
        m->usec = 0;
    }
}

void bump(moment *m, int level) {
    set_level(m, level, level_value(m, level) + 1);
    clear_below(m, level);
}

// Whether the fields name a moment that exists as written. Returns 1 when
// they do; 0 when normalizing moved them forward (Feb 30 to Mar 2, a skipped
// hour of a clock change), with m moved there and the level below the first
// changed one set back to its start, so that Mar 1 is not passed over; -1
// when the moment cannot be represented or would move backwards.
int within_bounds(zone_cache *z, moment *m) {
    if (m->tm.tm_year + 1900 > k_last_year) return -1;
    struct tm t = m->tm;
    if (to_time(z, &t) < 0) return -1;
    const int before[6] = {m->tm.tm_year, m->tm.tm_mon, m->tm.tm_mday,
                           m->tm.tm_hour, m->tm.tm_min, m->tm.tm_sec};
    const int after[6] = {t.tm_year, t.tm_mon, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec};
    int level = 0;
    while (level < 6 && before[level] == after[level]) level++;
    if (level == 6) return 1;
    if (after[level] < before[level]) return -1;
    m->tm = t;
    if (level + 1 < CAL_LEVELS) set_level(m, level + 1, level + 1 <= CAL_DAY ? 1 : 0);
    return 0;
}

int weekday_bit(int64_t y, int m, int d) {
    int64_t z = days_from_civil(y, m, d);
    int wday = (int)(((z % 7) + 11) % 7); // 0 = Sunday
    return 1 << ((wday + 6) % 7);
}

int day_selected(const cal_spec *cs, const moment *m) {
    if (!cs->weekdays) return 1;
    return (cs->weekdays & weekday_bit(m->tm.tm_year + 1900, m->tm.tm_mon + 1, m->tm.tm_mday)) != 0;
}

// Whether part a comes before part b in systemd's order of a field's list:
// by start, stop, then repetition.
int part_before(const cal_part *a, const cal_part *b) {
    if (a->start != b->start) return a->start < b->start;
    if (a->stop != b->stop) return a->stop < b->stop;
    return a->repeat < b->repeat;
}

// The conversions systemd makes to find the days that the "~" parts name,
// made here too for what they leave behind: mktime resolves a wall time
// that occurs twice by the offset of its previous result, and these are
// conversions of the cursor's time of day on other days (the day of the
// next month that is 1 - n, for the start and the stop of every part, in
// the order of part_before; an open stop counts as -1, which names day 2 of
// the next month). So on a day whose wall time occurs twice, a "~" field
// can move the search into the other occurrence, as it moves systemd's:
// the occurrence whose offset the last of these days has.
void month_end_conversions(const cal_spec *cs, zone_cache *z, const moment *m) {
    const cal_field *f = &cs->fields[CAL_DAY];
    int done[CAL_PARTS] = {};
    for (int n = 0; n < f->count; n++) {
        int pick = -1;
        for (int i = 0; i < f->count; i++)
            if (!done[i] && (pick < 0 || part_before(&f->parts[i], &f->parts[pick]))) pick = i;
        done[pick] = 1;
        int64_t ends[2] = {f->parts[pick].start, f->parts[pick].stop};
        // A range that holds one value is that value alone.
        if (ends[1] == ends[0] || (ends[1] > ends[0] && ends[0] + f->parts[pick].repeat > ends[1]))
            ends[1] = -1;
        for (int k = 0; k < 2; k++) {
            struct tm t = m->tm;
            t.tm_mon++;
            t.tm_mday = (int)(1 - ends[k]);
            to_time(z, &t);
        }
    }
}

// Moves m to the first selected moment at or after it. Like systemd, a level
// that has no further match (or lands on a moment that does not exist) moves
// the level above on by one and starts over from the year. Returns 1 with the
// time in *out, or 0 when nothing is selected before limit.
int find_next(const cal_spec *cs, zone_cache *z, moment *m, int64_t limit, int64_t *out) {
    for (int round = 0; round < 200000; round++) {
        int64_t now = to_time(z, &m->tm);
        if (now < 0 || now >= limit) return 0;
        m->tm.tm_isdst = cs->dst;
        if (m->tm.tm_year + 1900 > k_last_year) return 0;
        int restart = 0;
        // Fields just normalized name a moment that exists, and stay so until
        // a level changes them; only then is the zone asked again. A named
        // abbreviation's offset (dst set) is checked every time.
        int changed = 0;
        for (int level = CAL_YEAR; level < CAL_LEVELS && !restart; level++) {
            int64_t v = level_value(m, level);
            const int from_end = level == CAL_DAY && cs->end_of_month;
            const int dim = from_end ? month_length(m->tm.tm_year + 1900, m->tm.tm_mon + 1) : 0;
            if (from_end && !cs->fields[level].any) {
                month_end_conversions(cs, z, m);
                changed = 1;
            }
            int64_t next = field_next(&cs->fields[level], v, from_end, dim);
            // "*" seconds are whole seconds (systemd's 0/1 repetition): a
            // cursor inside a second goes on to the next one.
            if (level == CAL_SECOND && cs->fields[level].any)
                next = (v + k_usec - 1) / k_usec * k_usec;
            if (next > v) {
                set_level(m, level, next);
                clear_below(m, level);
                changed = 1;
            }
            int fits = next < 0 ? -1 : (changed || cs->dst >= 0) ? within_bounds(z, m) : 1;
            if (fits == 1) changed = 0;
            // The year level sees the cursor as normalized at the top; when
            // the zone still moves it (a named abbreviation whose offset is
            // not in force), nothing can be found.
            if (level == CAL_YEAR && fits != 1) return 0;
            if (fits < 0) {
                bump(m, level - 1);
                restart = 1;
            } else if (fits == 0) {
                restart = 1;
            } else if (level == CAL_DAY && !day_selected(cs, m)) {
                bump(m, CAL_DAY);
                restart = 1;
            }
        }
        if (!restart) {
            struct tm t = m->tm;
            *out = to_time(z, &t);
            return *out >= 0 && *out < limit;
        }
    }
    return 0;
}

// plat_gmtime or plat_localtime, answered from the zone cache where no clock
// change is near.
int break_down(zone_cache *z, int64_t t, struct tm *out) {
    int32_t offset = 0, isdst = 0;
    if (!z->utc && !steady_offset(z, floor_div(t, 86400), &offset, &isdst))
        return plat_localtime(t, out);
    set_wall(out, t + offset, isdst, offset, 0);
    return 1;
}

} // namespace

int cal_next_runs(const cal_spec *cs, int64_t now, int64_t out[CAL_MAX_RUNS]) {
    if (!cs || !cs->valid) return 0;
    // Calendar times start in 1970; the far end keeps day arithmetic in range.
    if (now < -1) now = -1;
    if (now > (int64_t)1 << 40) return 0;
    int64_t limit = (floor_div(now, 86400) + k_horizon_days) * 86400;
    if (cs->zone[0] && !plat_zone_push(cs->zone)) return 0;
    zone_cache *zone = zone_cache_for(cs->utc);
    int count = 0;
    int64_t from = now;
    moment m = {};
    // Like systemd, each search starts one microsecond after the last run
    // (or now): on that run's own second, in its own offset. Two rules
    // follow from it.
    // - A wall time that occurs twice is taken in the occurrence the search
    //   is in: from a start before the repeated hour or inside its first
    //   occurrence, the first; the search then goes on along the wall clock
    //   from there, past the repeated hour, so the second occurrence of a
    //   time already listed (02:59:59 CEST, then 02:59:59 CET) and every
    //   later time of the repeated hour are not listed. Only from a start
    //   inside the second occurrence are its times listed. ("~" days can
    //   change this: see month_end_conversions.)
    // - A field stepped past its end from the last second of an hour, a day,
    //   a month or a year carries the way mktime carries it, and only the
    //   field just below the highest one that changed goes back to its start
    //   (within_bounds); the others keep the carried values. Minutes 0/7
    //   from 23:59:59 give minute 63: 00:03 of the next day (hour set back
    //   to 0) or of 1 January (month set back to January), so the next run
    //   is 00:07, not 00:00. Hours 0/5 from 23:59:59 on the last day of a
    //   month give 01:00 of the 1st, so 05:00; seconds 0/7 from 10:59:59
    //   give 11:00:03, so 11:00:07.
    // A search from before 1970 starts at 1970-01-01 00:00:00 UTC itself.
    const int before_1970 = from < 0;
    if (break_down(zone, before_1970 ? 0 : from, &m.tm)) {
        m.usec = before_1970 ? 0 : 1;
        for (int guard = 0; count < CAL_MAX_RUNS && guard < 10000; guard++) {
            int64_t t;
            if (!find_next(cs, zone, &m, limit, &t)) break;
            if (t > from) {
                out[count++] = t;
                from = t;
                // After a run with a fraction of a second the search goes
                // on at the next whole second: one run per second.
                const int whole = m.usec == 0;
                if (!break_down(zone, whole ? from : from + 1, &m.tm)) break;
                m.usec = whole ? 1 : 0;
            } else {
                // A wall time that occurs twice resolved to its earlier
                // occurrence, behind the search: go on along the wall clock.
                m.tm.tm_sec++;
                m.usec = 0;
            }
        }
    }
    if (cs->zone[0]) plat_zone_pop();
    return count;
}

int cal_matches(const cal_spec *cs, int64_t t) {
    if (!cs || !cs->valid) return 0;
    if (cs->zone[0] && !plat_zone_push(cs->zone)) return 0;
    // Straight from the C library: this is what checks the search.
    moment m = {};
    int ok = cs->utc ? plat_gmtime(t, &m.tm) : plat_localtime(t, &m.tm);
    m.usec = 0;
    for (int level = 0; ok && level < CAL_LEVELS; level++) {
        int64_t v = level_value(&m, level);
        int dim = month_length(m.tm.tm_year + 1900, m.tm.tm_mon + 1);
        int64_t next = field_next(&cs->fields[level], v, level == CAL_DAY && cs->end_of_month, dim);
        // Fractions of a second count for the whole second they fall in.
        ok = next == v || (level == CAL_SECOND && next > v && next < v + k_usec);
    }
    if (ok) ok = day_selected(cs, &m);
    if (cs->zone[0]) plat_zone_pop();
    return ok;
}

void cal_merge_runs(int64_t acc[CAL_MAX_RUNS], int *acc_count, const int64_t *add, int n) {
    int64_t merged[2 * CAL_MAX_RUNS];
    int i = 0, j = 0, k = 0;
    while (k < CAL_MAX_RUNS && (i < *acc_count || j < n)) {
        int64_t v;
        if (j >= n || (i < *acc_count && acc[i] <= add[j]))
            v = acc[i++];
        else
            v = add[j++];
        if (k == 0 || merged[k - 1] != v) merged[k++] = v;
    }
    for (int x = 0; x < k; x++) acc[x] = merged[x];
    *acc_count = k;
}

namespace {

struct shorthand_text {
    const char *name;
    const char *text;
};

const shorthand_text k_shorthand_texts[12] = {
    {"minutely", "Every minute"},
    {"hourly", "Every hour, on the hour"},
    {"daily", "Every day at 00:00"},
    {"monthly", "The 1st of every month at 00:00"},
    {"weekly", "Every Monday at 00:00"},
    {"yearly", "Every 1 January at 00:00"},
    {"annually", "Every 1 January at 00:00"},
    {"quarterly", "On 1 January, April, July and October at 00:00"},
    {"semiannually", "On 1 January and July at 00:00"},
    {"semi-annually", "On 1 January and July at 00:00"},
    {"biannually", "On 1 January and July at 00:00"},
    {"bi-annually", "On 1 January and July at 00:00"},
};

enum { CLOCK_TIMES = 8 };

void append_int(char *buf, size_t cap, int64_t v) {
    char item[24];
    snprintf(item, sizeof item, "%lld", (long long)v);
    str_append(buf, cap, item);
}

// A value as shown: month names, seconds with their fraction, else a number.
void append_value(char *buf, size_t cap, int level, int64_t v) {
    if (level == CAL_MONTH && v >= 1 && v <= 12) {
        str_append(buf, cap, k_mon_long[v - 1]);
    } else if (level == CAL_SECOND && v % k_usec) {
        char item[32];
        snprintf(item, sizeof item, "%lld.%06lld", (long long)(v / k_usec),
                 (long long)(v % k_usec));
        str_append(buf, cap, item);
    } else {
        append_int(buf, cap, level == CAL_SECOND ? v / k_usec : v);
    }
}

// "a, b and c" for the parts of a field; a part is a value, "a to b",
// "every r from a" or "every r from a to b".
void append_parts(char *buf, size_t cap, const cal_field *f, int level) {
    for (int i = 0; i < f->count; i++) {
        const cal_part *p = &f->parts[i];
        if (i) str_append(buf, cap, i == f->count - 1 ? " and " : ", ");
        int stepped = p->repeat && !(p->stop >= 0 && p->repeat == k_levels[level].unit);
        if (stepped) {
            str_append(buf, cap, "every ");
            append_value(buf, cap, level == CAL_MONTH ? CAL_DAY : level, p->repeat);
            str_append(buf, cap, " from ");
        }
        append_value(buf, cap, level, p->start);
        if (p->stop >= 0) {
            str_append(buf, cap, " to ");
            append_value(buf, cap, level, p->stop);
        }
    }
}

int single_values(const cal_field *f) {
    if (f->any) return 0;
    for (int i = 0; i < f->count; i++)
        if (f->parts[i].stop >= 0 || f->parts[i].repeat) return 0;
    return 1;
}

// "At 06:00 and 18:00" when the times of day are a few single values.
int append_clock_times(char *buf, size_t cap, const cal_spec *cs) {
    const cal_field *h = &cs->fields[CAL_HOUR], *mi = &cs->fields[CAL_MINUTE],
                    *s = &cs->fields[CAL_SECOND];
    if (!single_values(h) || !single_values(mi) || !single_values(s)) return 0;
    if (h->count * mi->count * s->count > CLOCK_TIMES) return 0;
    int with_seconds = 0;
    for (int i = 0; i < s->count; i++) with_seconds |= s->parts[i].start != 0;
    int64_t times[CLOCK_TIMES];
    int n = 0;
    for (int a = 0; a < h->count; a++)
        for (int b = 0; b < mi->count; b++)
            for (int c = 0; c < s->count; c++)
                times[n++] = (h->parts[a].start * 3600 + mi->parts[b].start * 60) * k_usec +
                             s->parts[c].start;
    for (int i = 1; i < n; i++)
        for (int j = i; j > 0 && times[j] < times[j - 1]; j--) {
            int64_t t = times[j];
            times[j] = times[j - 1];
            times[j - 1] = t;
        }
    str_append(buf, cap, "at ");
    for (int i = 0; i < n; i++) {
        if (i) str_append(buf, cap, i == n - 1 ? " and " : ", ");
        int64_t sec = times[i] / k_usec;
        char item[40];
        snprintf(item, sizeof item, "%02lld:%02lld", (long long)(sec / 3600),
                 (long long)(sec % 3600 / 60));
        str_append(buf, cap, item);
        if (with_seconds) {
            str_append(buf, cap, ":");
            if (sec % 60 < 10) str_append(buf, cap, "0");
            append_value(buf, cap, CAL_SECOND, times[i] % (60 * k_usec));
        }
    }
    return 1;
}

// "every 10 minutes" for a lone "0/10"; "every 10 minutes from minute 5"
// for "5/10".
int append_open_step(char *buf, size_t cap, const cal_field *f, const char *unit) {
    if (f->any || f->count != 1 || f->parts[0].stop >= 0 || !f->parts[0].repeat) return 0;
    if (f->parts[0].start >= f->parts[0].repeat) return 0;
    int64_t scale = strcmp(unit, "second") == 0 ? k_usec : 1;
    if (f->parts[0].repeat % scale || f->parts[0].start % scale) return 0;
    str_append(buf, cap, "every ");
    append_int(buf, cap, f->parts[0].repeat / scale);
    str_append(buf, cap, " ");
    str_append(buf, cap, unit);
    str_append(buf, cap, "s");
    if (f->parts[0].start) {
        str_append(buf, cap, " from ");
        str_append(buf, cap, unit);
        str_append(buf, cap, " ");
        append_int(buf, cap, f->parts[0].start / scale);
    }
    return 1;
}

void append_time_rule(char *buf, size_t cap, const cal_spec *cs) {
    const cal_field *h = &cs->fields[CAL_HOUR], *mi = &cs->fields[CAL_MINUTE],
                    *s = &cs->fields[CAL_SECOND];
    int on_minute = !s->any && s->count == 1 && s->parts[0].start == 0 && s->parts[0].stop < 0 &&
                    !s->parts[0].repeat;
    int seconds_told = 0;
    if (s->any && mi->any) {
        str_append(buf, cap, "every second");
    } else if (mi->any && !on_minute && append_open_step(buf, cap, s, "second")) {
        seconds_told = 1;
    } else if (mi->any) {
        str_append(buf, cap, "every minute");
    } else if (!append_open_step(buf, cap, mi, "minute")) {
        str_append(buf, cap, "at minute ");
        append_parts(buf, cap, mi, CAL_MINUTE);
    }
    if (!h->any) {
        const cal_part *p = &h->parts[0];
        if (h->count == 1 && p->stop >= 0 && p->repeat == 1) {
            char range[80];
            snprintf(range, sizeof range, ", between %02lld:00 and %02lld:59", (long long)p->start,
                     (long long)p->stop);
            str_append(buf, cap, range);
        } else {
            str_append(buf, cap, ", ");
            if (!append_open_step(buf, cap, h, "hour")) {
                str_append(buf, cap, "in hour ");
                append_parts(buf, cap, h, CAL_HOUR);
            }
        }
    }
    if (!s->any && !on_minute && !seconds_told) {
        str_append(buf, cap, ", ");
        if (!append_open_step(buf, cap, s, "second")) {
            str_append(buf, cap, "at second ");
            append_parts(buf, cap, s, CAL_SECOND);
        }
    } else if (s->any && !mi->any) {
        str_append(buf, cap, ", every second");
    }
}

void append_weekdays(char *buf, size_t cap, int bits) {
    int first = 1;
    for (int d = 0; d < 7;) {
        if (!(bits & (1 << d))) {
            d++;
            continue;
        }
        int e = d;
        while (e + 1 < 7 && (bits & (1 << (e + 1)))) e++;
        if (!first) str_append(buf, cap, ", ");
        first = 0;
        str_append(buf, cap, k_day_long[d]);
        if (e > d + 1) {
            str_append(buf, cap, " to ");
            str_append(buf, cap, k_day_long[e]);
        } else if (e == d + 1) {
            str_append(buf, cap, ", ");
            str_append(buf, cap, k_day_long[e]);
        }
        d = e + 1;
    }
}

void append_date_rule(char *buf, size_t cap, const cal_spec *cs) {
    const cal_field *y = &cs->fields[CAL_YEAR], *mo = &cs->fields[CAL_MONTH],
                    *d = &cs->fields[CAL_DAY];
    if (d->any) {
        if (cs->weekdays) {
            str_append(buf, cap, "every ");
            append_weekdays(buf, cap, cs->weekdays);
        } else {
            str_append(buf, cap, "every day");
        }
    } else {
        if (cs->end_of_month && single_values(d) && d->count == 1) {
            int n = (int)d->parts[0].start;
            char nth[32] = "";
            if (n > 1)
                snprintf(nth, sizeof nth, "%d%s ", n,
                         n == 2                     ? "nd"
                         : n == 3                   ? "rd"
                         : (n >= 21 && n % 10 == 1) ? "st"
                         : (n >= 22 && n % 10 == 2) ? "nd"
                         : (n >= 23 && n % 10 == 3) ? "rd"
                                                    : "th");
            str_append(buf, cap, "on the ");
            str_append(buf, cap, nth);
            str_append(buf, cap, "last day");
        } else {
            str_append(buf, cap, "on day ");
            append_parts(buf, cap, d, CAL_DAY);
            if (cs->end_of_month) str_append(buf, cap, " counted back from the month's end");
        }
    }
    if (!mo->any) {
        str_append(buf, cap, " in ");
        append_parts(buf, cap, mo, CAL_MONTH);
    } else if (!d->any) {
        str_append(buf, cap, " of every month");
    }
    if (!y->any) {
        str_append(buf, cap, " of ");
        append_parts(buf, cap, y, CAL_YEAR);
    }
    if (!d->any && cs->weekdays) {
        str_append(buf, cap, ", if a ");
        append_weekdays(buf, cap, cs->weekdays);
    }
}

} // namespace

void cal_describe(const cal_spec *cs, char *out, size_t cap) {
    if (!out || cap == 0) return;
    out[0] = 0;
    if (!cs || !cs->valid) return;
    const char *fixed = nullptr;
    for (const shorthand_text &s : k_shorthand_texts)
        if (cs->label[0] && strcmp(cs->label, s.name) == 0) fixed = s.text;
    char text[256] = "";
    if (fixed) {
        str_copy(text, sizeof text, fixed);
    } else {
        const cal_field *f = cs->fields;
        int plain_days = f[CAL_YEAR].any && f[CAL_MONTH].any && f[CAL_DAY].any;
        char time[160] = "";
        int clock = append_clock_times(time, sizeof time, cs);
        if (!clock) append_time_rule(time, sizeof time, cs);
        if (plain_days && cs->weekdays && clock) {
            // "Every Monday at 00:00"
            str_copy(text, sizeof text, "Every ");
            append_weekdays(text, sizeof text, cs->weekdays);
            str_append(text, sizeof text, " ");
            str_append(text, sizeof text, time);
        } else {
            str_copy(text, sizeof text, time);
            str_append(text, sizeof text, ", ");
            append_date_rule(text, sizeof text, cs);
        }
        if (text[0] >= 'a' && text[0] <= 'z') text[0] = (char)(text[0] - 'a' + 'A');
    }
    if (cs->utc) {
        str_append(text, sizeof text, " (UTC)");
    } else if (cs->zone[0]) {
        str_append(text, sizeof text, " (");
        str_append(text, sizeof text, cs->zone);
        str_append(text, sizeof text, " time)");
    }
    str_copy(out, cap, text);
}
