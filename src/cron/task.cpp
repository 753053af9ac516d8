#include "cron/task.h"

#include <stdio.h>
#include <string.h>

#include "cron/civil.h"
#include "cron/cron.h"
#include "cron/zone_cache.h"
#include "util/platform.h"
#include "util/str.h"

namespace {

const int64_t k_day = 86400;
const int64_t k_never = INT64_MAX;

// Reads exactly n decimal digits at s; returns 0 when one is missing.
int read_digits(const char *s, int n, int32_t *out) {
    int32_t v = 0;
    for (int i = 0; i < n; i++) {
        if (s[i] < '0' || s[i] > '9') return 0;
        v = v * 10 + (s[i] - '0');
    }
    *out = v;
    return 1;
}

int local_instant(int64_t wall, int64_t *out);

// The instant of a boundary: its fixed offset, or the node's zone.
int time_instant(const task_time *t, int64_t *out) {
    const int64_t wall = days_from_civil(t->year, t->month, t->day) * k_day + t->hour * 3600 +
                         t->minute * 60 + t->second;
    if (t->zoned) {
        *out = wall - t->offset;
        return 1;
    }
    return local_instant(wall, out);
}

// Collects run times after `after` and up to `limit`, ascending, distinct, at
// most five.
struct run_acc {
    int64_t t[TASK_MAX_RUNS];
    int n;
    int64_t after, limit;
};

// Adds t in order unless it is a duplicate, outside the bounds, or later
// than five runs already kept.
void acc_add(run_acc *acc, int64_t t) {
    if (t <= acc->after || t > acc->limit) return;
    merge_runs(acc->t, &acc->n, &t, 1);
}

// True when nothing at or after t can still enter the list.
int acc_done(const run_acc *acc, int64_t t) {
    return t > acc->limit || (acc->n == TASK_MAX_RUNS && t > acc->t[TASK_MAX_RUNS - 1]);
}

// The runs of one start o of the trigger: o itself, then its repetitions up to
// the end of their duration (that end included) and before the trigger's next
// start (next, or k_never), none after the end boundary (stop).
void add_series(const task_trigger *t, int64_t o, int64_t next, int64_t stop, run_acc *acc) {
    if (o > stop) return;
    if (!t->rep_interval) {
        acc_add(acc, o);
        return;
    }
    int64_t last = t->rep_duration > 0 ? o + t->rep_duration : k_never;
    if (next != k_never && next - 1 < last) last = next - 1;
    if (stop < last) last = stop;
    if (acc->limit < last) last = acc->limit;
    int64_t k = o > acc->after ? 0 : (acc->after - o) / t->rep_interval + 1;
    for (int64_t x = o + k * t->rep_interval; x <= last && !acc_done(acc, x); x += t->rep_interval)
        acc_add(acc, x);
}

// One day of a calendar search: its date and weekday, moved one day at a time.
struct day_cursor {
    int64_t day, year;
    int month, mday, wday, len;
};

// Puts the cursor on day (days since 1970-01-01).
void cursor_set(day_cursor *c, int64_t day) {
    c->day = day;
    civil_from_days(day, &c->year, &c->month, &c->mday);
    c->wday = weekday_of_day(day);
    c->len = month_length(c->year, c->month);
}

// Moves the cursor one day on, without a date conversion.
void cursor_next(day_cursor *c) {
    c->day++;
    c->wday = (c->wday + 1) % 7;
    if (++c->mday > c->len) {
        c->mday = 1;
        if (++c->month > 12) {
            c->month = 1;
            c->year++;
        }
        c->len = month_length(c->year, c->month);
    }
}

// True when the calendar trigger starts on the cursor's day (day0 is the
// StartBoundary's date, week0 the Sunday of its week).
int day_selected(const task_trigger *t, const day_cursor *c, int64_t day0, int64_t week0) {
    if (c->day < day0) return 0;
    switch (t->kind) {
    case TASK_DAILY:
        return (c->day - day0) % t->interval == 0;
    case TASK_WEEKLY:
        return (t->weekdays >> c->wday & 1) && ((c->day - week0) / 7) % t->interval == 0;
    case TASK_MONTHLY:
        if (t->months && !(t->months >> (c->month - 1) & 1)) return 0;
        return (t->month_days >> c->mday & 1) || (t->last_day && c->mday == c->len);
    case TASK_MONTHLY_DOW: {
        if (t->months && !(t->months >> (c->month - 1) & 1)) return 0;
        if (!(t->weekdays >> c->wday & 1)) return 0;
        if (!t->weeks) return 1;
        const int week = (c->mday - 1) / 7; // days 1-7 are week 1
        return (week < 4 && (t->weeks >> week & 1)) || ((t->weeks & 16) && c->mday > c->len - 7);
    }
    default:
        return 0;
    }
}

// The instant of the trigger's start on the cursor's day, at the time of day
// of its StartBoundary, in its zone or its fixed offset.
int day_instant(const task_trigger *t, const day_cursor *c, int64_t *out) {
    const int64_t wall =
        c->day * k_day + t->start.hour * 3600 + t->start.minute * 60 + t->start.second;
    if (t->start.zoned) {
        *out = wall - t->start.offset;
        return 1;
    }
    return local_instant(wall, out);
}

// Whether the trigger can select any day at all.
int calendar_possible(const task_trigger *t) {
    switch (t->kind) {
    case TASK_DAILY:
        return 1;
    case TASK_WEEKLY:
    case TASK_MONTHLY_DOW:
        return (t->weekdays & 127) != 0;
    case TASK_MONTHLY:
        return t->month_days != 0 || t->last_day;
    default:
        return 0;
    }
}

// The runs of a calendar trigger: its starts day by day from far enough back
// that a repetition begun before now is seen, each start's series cut where
// the next start begins.
void calendar_runs(const task_trigger *t, int64_t stop, run_acc *acc) {
    if (!calendar_possible(t) || t->interval < 1) return;
    const int64_t day0 = days_from_civil(t->start.year, t->start.month, t->start.day);
    const int64_t week0 = day0 - weekday_of_day(day0);
    int32_t off = t->start.offset;
    if (!t->start.zoned && !plat_utc_offset(acc->after, &off)) return;
    const int64_t today = floor_div(acc->after + off, k_day);
    int64_t first = today - 2;
    if (t->rep_interval) {
        if (t->rep_duration > 0) {
            first = today - 2 - t->rep_duration / k_day;
        } else {
            // Repeating until the next start: the last start before today,
            // however far back (eight years cover a February 29).
            day_cursor c;
            int64_t d = today - 1;
            for (; d >= day0 && d > today - 2935; d--) {
                cursor_set(&c, d);
                if (day_selected(t, &c, day0, week0)) break;
            }
            first = d;
        }
    }
    if (first < day0) first = day0;
    const int64_t last_day = today + k_horizon_days + 1;
    day_cursor c;
    cursor_set(&c, first);
    int64_t pending = k_never;
    for (; c.day <= last_day; cursor_next(&c)) {
        if (!day_selected(t, &c, day0, week0)) continue;
        int64_t o;
        if (!day_instant(t, &c, &o)) continue;
        if (pending != k_never && o <= pending) continue; // a repeated wall time
        if (pending != k_never) add_series(t, pending, o, stop, acc);
        pending = o;
        if (acc_done(acc, o) || o > stop) break;
    }
    if (pending != k_never) add_series(t, pending, k_never, stop, acc);
}

// Appends piece to out, cut like every copy.
void append(char *out, size_t cap, const char *piece) {
    str_append(out, cap, piece);
}

// "1 day 2 hours 47 minutes"; "hour" alone for exactly one unit when bare.
void span_words(int64_t s, int bare, char *out, size_t cap) {
    static const struct {
        int64_t size;
        const char *name;
    } k_parts[] = {{86400, "day"}, {3600, "hour"}, {60, "minute"}, {1, "second"}};
    for (const auto &part : k_parts)
        if (bare && s == part.size) {
            append(out, cap, part.name);
            return;
        }
    int first = 1;
    for (const auto &part : k_parts) {
        const int64_t n = s / part.size;
        s %= part.size;
        if (!n) continue;
        char item[48];
        snprintf(item, sizeof item, "%s%lld %s%s", first ? "" : " ", (long long)n, part.name,
                 n == 1 ? "" : "s");
        append(out, cap, item);
        first = 0;
    }
    if (first) append(out, cap, "0 seconds");
}

// "03:00", "08:30:47", then " UTC" or " UTC+08:00" for a fixed offset.
void clock_words(const task_time *t, char *out, size_t cap) {
    char b[48];
    if (t->second)
        snprintf(b, sizeof b, "%02d:%02d:%02d", t->hour, t->minute, t->second);
    else
        snprintf(b, sizeof b, "%02d:%02d", t->hour, t->minute);
    append(out, cap, b);
    if (t->zoned) {
        if (!t->offset) {
            append(out, cap, " UTC");
        } else {
            const int32_t a = t->offset < 0 ? -t->offset : t->offset;
            snprintf(b, sizeof b, " UTC%c%02d:%02d", t->offset < 0 ? '-' : '+', a / 3600,
                     a % 3600 / 60);
            append(out, cap, b);
        }
    }
}

// "2026-12-24".
void date_words(const task_time *t, char *out, size_t cap) {
    char b[32];
    snprintf(b, sizeof b, "%04d-%02d-%02d", t->year, t->month, t->day);
    append(out, cap, b);
}

const char *const k_week_words[5] = {"first", "second", "third", "fourth", "last"};
const char *const k_dow_codes[7] = {"SUN", "MON", "TUE", "WED", "THU", "FRI", "SAT"};
const char *const k_mon_codes[12] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                     "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};

// Writes the n words, "A, B and C".
void list_words(const char *const *words, int n, char *out, size_t cap) {
    for (int i = 0; i < n; i++) {
        if (i) append(out, cap, i == n - 1 ? " and " : ", ");
        append(out, cap, words[i]);
    }
}

// The chosen names of a bit set (bit i = names[i]), "A, B and C".
void bit_words(uint32_t bits, const char *const *names, int count, char *out, size_t cap) {
    const char *chosen[32];
    int n = 0;
    for (int i = 0; i < count; i++)
        if (bits >> i & 1) chosen[n++] = names[i];
    list_words(chosen, n, out, cap);
}

// " of every month", or " of January and July".
void months_words(const task_trigger *t, char *out, size_t cap) {
    if (!t->months || (t->months & 0xFFF) == 0xFFF) {
        append(out, cap, " of every month");
        return;
    }
    append(out, cap, " of ");
    bit_words((uint32_t)t->months, k_mon_long, 12, out, cap);
}

// The sentence of one trigger, without its enabled state: the schedule, then
// delay, repetition, end and random delay.
void describe_trigger(const task_trigger *t, char *out, size_t cap) {
    out[0] = 0;
    const int timed = t->kind <= TASK_MONTHLY_DOW;
    if (timed && !t->start.set) {
        append(out, cap, "At a time not given");
    } else if (timed) {
        append(out, cap, "At ");
        clock_words(&t->start, out, cap);
    }
    char b[64];
    switch (t->kind) {
    case TASK_TIME:
        append(out, cap, " on ");
        date_words(&t->start, out, cap);
        if (!t->rep_interval) append(out, cap, ", once");
        break;
    case TASK_DAILY:
        if (t->interval == 1) {
            append(out, cap, ", every day");
        } else {
            snprintf(b, sizeof b, ", every %d days", t->interval);
            append(out, cap, b);
        }
        break;
    case TASK_WEEKLY:
        if ((t->weekdays & 127) == 127) {
            append(out, cap, " on every day of the week");
        } else {
            append(out, cap, " on ");
            bit_words((uint32_t)t->weekdays, k_dow_long, 7, out, cap);
        }
        if (t->interval > 1) {
            snprintf(b, sizeof b, ", every %d weeks", t->interval);
            append(out, cap, b);
        }
        break;
    case TASK_MONTHLY: {
        int days = 0;
        for (int d = 1; d <= 31; d++) days += (int)(t->month_days >> d & 1);
        if (!days && !t->last_day) {
            append(out, cap, " on no day");
        } else if (!days) {
            append(out, cap, " on the last day");
        } else {
            append(out, cap, days == 1 && !t->last_day ? " on day " : " on days ");
            char numbers[32][4];
            const char *words[33];
            int n = 0;
            for (int d = 1; d <= 31; d++)
                if (t->month_days >> d & 1) {
                    snprintf(numbers[n], sizeof numbers[n], "%d", d);
                    words[n] = numbers[n];
                    n++;
                }
            if (t->last_day) words[n++] = "the last day";
            list_words(words, n, out, cap);
        }
        months_words(t, out, cap);
        break;
    }
    case TASK_MONTHLY_DOW:
        append(out, cap, t->weeks ? " on the " : " on every ");
        if (t->weeks) {
            bit_words((uint32_t)t->weeks, k_week_words, 5, out, cap);
            append(out, cap, " ");
        }
        bit_words((uint32_t)t->weekdays, k_dow_long, 7, out, cap);
        months_words(t, out, cap);
        break;
    case TASK_BOOT:
        append(out, cap, "At system start-up");
        break;
    case TASK_LOGON:
        append(out, cap, "At log on of ");
        append(out, cap, t->user[0] ? t->user : "any user");
        break;
    case TASK_IDLE:
        append(out, cap, "When the computer is idle");
        break;
    case TASK_EVENT:
        if (t->log[0]) {
            append(out, cap, "On an event in the ");
            append(out, cap, t->log);
            append(out, cap, " log");
        } else {
            append(out, cap, "On an event");
        }
        break;
    case TASK_REGISTRATION:
        append(out, cap, "When the task is created or changed");
        break;
    case TASK_SESSION: {
        static const struct {
            const char *state, *words;
        } k_states[] = {
            {"ConsoleConnect", "On local connection to a user session"},
            {"ConsoleDisconnect", "On local disconnection from a user session"},
            {"RemoteConnect", "On remote connection to a user session"},
            {"RemoteDisconnect", "On remote disconnection from a user session"},
            {"SessionLock", "On workstation lock"},
            {"SessionUnlock", "On workstation unlock"},
        };
        const char *words = "On a change of a user session";
        for (const auto &s : k_states)
            if (strcmp(s.state, t->name) == 0) words = s.words;
        append(out, cap, words);
        if (t->user[0]) {
            append(out, cap, " of ");
            append(out, cap, t->user);
        }
        break;
    }
    case TASK_WNF:
        append(out, cap, "On a Windows notification state change");
        break;
    default:
        append(out, cap, "On a trigger of an unknown kind (");
        append(out, cap, t->name);
        append(out, cap, ")");
        break;
    }
    if (!timed && t->delay > 0) {
        append(out, cap, ", after ");
        span_words(t->delay, 0, out, cap);
    }
    if (t->rep_interval) {
        append(out, cap, ", then every ");
        span_words(t->rep_interval, 1, out, cap);
        if (t->rep_duration > 0) {
            append(out, cap, " for ");
            span_words(t->rep_duration, 0, out, cap);
        }
    }
    if (t->end.set) {
        append(out, cap, ", until ");
        date_words(&t->end, out, cap);
        append(out, cap, " ");
        clock_words(&t->end, out, cap);
    }
    if (t->random_delay > 0) {
        append(out, cap, ", plus up to ");
        span_words(t->random_delay, 0, out, cap);
        const int64_t s = t->random_delay;
        const int one = s == 1 || s == 60 || s == 3600 || s == 86400;
        append(out, cap, one ? "'s random delay" : "' random delay");
    }
}

// schtasks' "/ST 03:00" (no seconds: schtasks takes HH:mm).
void st_text(const task_time *t, char *out, size_t cap) {
    char b[32];
    snprintf(b, sizeof b, " /ST %02d:%02d", t->hour, t->minute);
    append(out, cap, b);
}

// Codes of a bit set joined with ",".
void codes(uint32_t bits, const char *const *names, int count, char *out, size_t cap) {
    int first = 1;
    for (int i = 0; i < count; i++)
        if (bits >> i & 1) {
            if (!first) append(out, cap, ",");
            append(out, cap, names[i]);
            first = 0;
        }
}

// The schtasks /Create form of one trigger.
void expr_trigger(const task_trigger *t, char *out, size_t cap) {
    out[0] = 0;
    char b[64];
    switch (t->kind) {
    case TASK_TIME:
        append(out, cap, "/SC ONCE");
        if (t->start.set) {
            snprintf(b, sizeof b, " /SD %04d-%02d-%02d", t->start.year, t->start.month,
                     t->start.day);
            append(out, cap, b);
        }
        break;
    case TASK_DAILY:
    case TASK_WEEKLY:
        append(out, cap, t->kind == TASK_DAILY ? "/SC DAILY" : "/SC WEEKLY");
        if (t->interval > 1) {
            snprintf(b, sizeof b, " /MO %d", t->interval);
            append(out, cap, b);
        }
        if (t->kind == TASK_WEEKLY) {
            append(out, cap, " /D ");
            codes((uint32_t)t->weekdays, k_dow_codes, 7, out, cap);
        }
        break;
    case TASK_MONTHLY: {
        append(out, cap, "/SC MONTHLY");
        if (!t->month_days && t->last_day) {
            append(out, cap, " /MO LASTDAY");
        } else {
            append(out, cap, " /D ");
            int first = 1;
            for (int d = 1; d <= 31; d++)
                if (t->month_days >> d & 1) {
                    snprintf(b, sizeof b, "%s%d", first ? "" : ",", d);
                    append(out, cap, b);
                    first = 0;
                }
            if (t->last_day) append(out, cap, first ? "LASTDAY" : ",LASTDAY");
        }
        if (t->months && (t->months & 0xFFF) != 0xFFF) {
            append(out, cap, " /M ");
            codes((uint32_t)t->months, k_mon_codes, 12, out, cap);
        } else if (!t->month_days && t->last_day) {
            append(out, cap, " /M *");
        }
        break;
    }
    case TASK_MONTHLY_DOW: {
        static const char *const k_week_codes[5] = {"FIRST", "SECOND", "THIRD", "FOURTH", "LAST"};
        append(out, cap, "/SC MONTHLY /MO ");
        if (t->weeks)
            codes((uint32_t)t->weeks, k_week_codes, 5, out, cap);
        else
            append(out, cap, "FIRST,SECOND,THIRD,FOURTH,LAST");
        append(out, cap, " /D ");
        codes((uint32_t)t->weekdays, k_dow_codes, 7, out, cap);
        if (t->months && (t->months & 0xFFF) != 0xFFF) {
            append(out, cap, " /M ");
            codes((uint32_t)t->months, k_mon_codes, 12, out, cap);
        }
        break;
    }
    case TASK_BOOT:
        append(out, cap, "/SC ONSTART");
        break;
    case TASK_LOGON:
        append(out, cap, "/SC ONLOGON");
        break;
    case TASK_IDLE:
        append(out, cap, "/SC ONIDLE");
        break;
    case TASK_EVENT:
        append(out, cap, "/SC ONEVENT");
        if (t->log[0]) {
            append(out, cap, " /EC ");
            append(out, cap, t->log);
        }
        break;
    case TASK_REGISTRATION:
        append(out, cap, "RegistrationTrigger");
        break;
    case TASK_SESSION:
        append(out, cap, "SessionStateChangeTrigger ");
        append(out, cap, t->name);
        break;
    case TASK_WNF:
        append(out, cap, "WnfStateChangeTrigger");
        break;
    default:
        append(out, cap, t->name);
        break;
    }
    if (t->kind <= TASK_MONTHLY_DOW && t->start.set) st_text(&t->start, out, cap);
    if (t->rep_interval) {
        snprintf(b, sizeof b, " /RI %lld", (long long)((t->rep_interval + 59) / 60));
        append(out, cap, b);
        if (t->rep_duration > 0) {
            const int64_t m = t->rep_duration / 60;
            snprintf(b, sizeof b, " /DU %02lld:%02lld", (long long)(m / 60), (long long)(m % 60));
            append(out, cap, b);
        }
        if (t->rep_stop) append(out, cap, " /K");
    }
    if (t->end.set && t->kind <= TASK_MONTHLY_DOW) {
        snprintf(b, sizeof b, " /ED %04d-%02d-%02d /ET %02d:%02d", t->end.year, t->end.month,
                 t->end.day, t->end.hour, t->end.minute);
        append(out, cap, b);
    }
    if (t->delay > 0 && (t->kind == TASK_BOOT || t->kind == TASK_LOGON || t->kind == TASK_EVENT)) {
        const int64_t s = t->delay;
        snprintf(b, sizeof b, " /DELAY %04lld:%02lld", (long long)(s / 60), (long long)(s % 60));
        append(out, cap, b);
    }
}

} // namespace

int task_parse_time(const char *text, task_time *out) {
    memset(out, 0, sizeof *out);
    task_time t;
    memset(&t, 0, sizeof t);
    const char *s = text;
    while (is_space((unsigned char)*s)) s++;
    if (!read_digits(s, 4, &t.year) || s[4] != '-' || !read_digits(s + 5, 2, &t.month) ||
        s[7] != '-' || !read_digits(s + 8, 2, &t.day) || s[10] != 'T' ||
        !read_digits(s + 11, 2, &t.hour) || s[13] != ':' || !read_digits(s + 14, 2, &t.minute))
        return 0;
    s += 16;
    if (*s == ':') {
        if (!read_digits(s + 1, 2, &t.second)) return 0;
        s += 3;
        if (*s == '.') {
            s++;
            if (*s < '0' || *s > '9') return 0;
            while (*s >= '0' && *s <= '9') s++; // a fraction is dropped
        }
    }
    if (*s == 'Z') {
        t.zoned = 1;
        s++;
    } else if (*s == '+' || *s == '-') {
        int32_t h, m;
        if (!read_digits(s + 1, 2, &h) || s[3] != ':' || !read_digits(s + 4, 2, &m) || h > 14 ||
            m > 59)
            return 0;
        t.zoned = 1;
        t.offset = (h * 3600 + m * 60) * (*s == '-' ? -1 : 1);
        s += 6;
    }
    while (is_space((unsigned char)*s)) s++;
    if (*s) return 0;
    if (t.year < 1 || t.month < 1 || t.month > 12 || t.day < 1 ||
        t.day > month_length(t.year, t.month) || t.hour > 23 || t.minute > 59 || t.second > 59)
        return 0;
    t.set = 1;
    *out = t;
    return 1;
}

int64_t task_parse_duration(const char *text) {
    const char *s = text;
    while (is_space((unsigned char)*s)) s++;
    if (*s != 'P') return -1;
    s++;
    int in_time = 0, parts = 0;
    int64_t total = 0;
    while (*s && !is_space((unsigned char)*s)) {
        if (*s == 'T') {
            if (in_time) return -1;
            in_time = 1;
            s++;
            continue;
        }
        if (*s < '0' || *s > '9') return -1;
        int64_t v = 0;
        for (; *s >= '0' && *s <= '9'; s++) {
            v = v * 10 + (*s - '0');
            if (v > 1000000000) return -1;
        }
        if (*s == '.') { // a fraction of a second is dropped
            s++;
            while (*s >= '0' && *s <= '9') s++;
            if (*s != 'S' || !in_time) return -1;
        }
        int64_t unit;
        switch (*s) {
        case 'Y':
            unit = in_time ? -1 : 365 * k_day;
            break;
        case 'M':
            unit = in_time ? 60 : 30 * k_day;
            break;
        case 'D':
            unit = in_time ? -1 : k_day;
            break;
        case 'H':
            unit = in_time ? 3600 : -1;
            break;
        case 'S':
            unit = in_time ? 1 : -1;
            break;
        default:
            unit = -1;
        }
        if (unit < 0) return -1;
        total += v * unit;
        if (total > (int64_t)1 << 40) return -1;
        parts++;
        s++;
    }
    while (is_space((unsigned char)*s)) s++;
    if (*s || !parts) return -1;
    return total;
}

namespace {

// The instant of wall time in the node's zone (see task_local_instant).
int local_instant(int64_t wall, int64_t *out) {
    zone_cache *z = zone_cache_for(0);
    const int64_t day = floor_div(wall, k_day);
    int32_t before, after, isdst;
    if (zone_steady_offset(z, day, &before, &isdst)) {
        *out = wall - before;
        return 1;
    }
    if (!zone_offset_at(z, (day - 1) * k_day, &before) ||
        !zone_offset_at(z, (day + 2) * k_day, &after))
        return 0;
    int64_t best = k_never;
    const int32_t offsets[2] = {before, after};
    for (int32_t o : offsets) {
        int32_t got;
        if (plat_utc_offset(wall - o, &got) && got == o && wall - o < best) best = wall - o;
    }
    if (best != k_never) {
        *out = best;
        return 1;
    }
    // Skipped by a change: the first instant whose wall time is past it.
    int64_t lo = wall - (before > after ? before : after),
            hi = wall - (before < after ? before : after);
    if (lo > hi) {
        const int64_t x = lo;
        lo = hi;
        hi = x;
    }
    while (lo < hi) {
        const int64_t mid = lo + (hi - lo) / 2;
        int32_t o;
        if (!plat_utc_offset(mid, &o)) return 0;
        if (mid + o >= wall)
            hi = mid;
        else
            lo = mid + 1;
    }
    *out = lo;
    return 1;
}

} // namespace

int task_local_instant(int64_t wall, int64_t *out) {
    return local_instant(wall, out);
}

namespace {

// The runs of one trigger (see task_trigger_runs), the offset cache kept.
int trigger_runs(const task_trigger *t, int64_t now, int64_t out[TASK_MAX_RUNS]) {
    if (t->kind > TASK_MONTHLY_DOW || !t->start.set) return 0;
    run_acc acc;
    acc.n = 0;
    acc.after = now;
    acc.limit = now + k_horizon_days * k_day;
    int64_t stop = k_never;
    if (t->end.set && !time_instant(&t->end, &stop)) return 0;
    if (t->kind == TASK_TIME) {
        int64_t o;
        if (time_instant(&t->start, &o)) add_series(t, o, k_never, stop, &acc);
    } else {
        calendar_runs(t, stop, &acc);
    }
    for (int i = 0; i < acc.n; i++) out[i] = acc.t[i];
    return acc.n;
}

} // namespace

int task_trigger_runs(const task_trigger *t, int64_t now, int64_t out[TASK_MAX_RUNS]) {
    return trigger_runs(t, now, out);
}

int task_next_runs(const task_def *task, int64_t now, int64_t out[TASK_MAX_RUNS]) {
    if (!task->enabled) return 0;
    run_acc acc;
    acc.n = 0;
    acc.after = now;
    acc.limit = now + k_horizon_days * k_day;
    for (int i = 0; i < task->trigger_count; i++) {
        const task_trigger *t = &task->triggers[i];
        if (!t->enabled) continue;
        int64_t runs[TASK_MAX_RUNS];
        const int n = trigger_runs(t, now, runs);
        for (int k = 0; k < n; k++) acc_add(&acc, runs[k]);
    }
    for (int i = 0; i < acc.n; i++) out[i] = acc.t[i];
    return acc.n;
}

void task_describe(const task_def *task, char *out, size_t cap) {
    if (!cap) return;
    out[0] = 0;
    int enabled = 0;
    for (int i = 0; i < task->trigger_count; i++) enabled += task->triggers[i].enabled != 0;
    if (!task->enabled)
        append(out, cap, "Disabled: ");
    else if (task->trigger_count && !enabled)
        append(out, cap, "All triggers disabled: ");
    if (!task->trigger_count) {
        append(out, cap, "Runs only when started by hand or by another program");
        if (task->maintenance_period > 0) {
            append(out, cap, ", and during Automatic Maintenance every ");
            span_words(task->maintenance_period, 1, out, cap);
        }
    }
    for (int i = 0; i < task->trigger_count; i++) {
        const task_trigger *t = &task->triggers[i];
        char one[224];
        describe_trigger(t, one, sizeof one);
        if (i) append(out, cap, "; ");
        append(out, cap, one);
        if (!t->enabled && enabled) append(out, cap, " (trigger disabled)");
    }
    if (task->triggers_left_out) append(out, cap, "; more triggers not read");
    if (task->hidden) append(out, cap, " (hidden task)");
}

void task_expr(const task_def *task, char *out, size_t cap) {
    if (!cap) return;
    out[0] = 0;
    for (int i = 0; i < task->trigger_count; i++) {
        char one[160];
        expr_trigger(&task->triggers[i], one, sizeof one);
        if (i) append(out, cap, "; ");
        append(out, cap, one);
    }
}
