// The English description of calendar events: a shorthand's fixed text, or a
// time phrase ("at 06:00 and 18:00", "every 10 minutes, between 09:00 and 17:59")
// and a date phrase ("every Monday to Friday", "on the last day of every
// month"), then the zone.
#include <stdio.h>
#include <string.h>

#include "cron/cal_tables.h"
#include "cron/calendar.h"
#include "cron/cron.h"
#include "util/sort.h"
#include "util/str.h"

namespace {

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
        int stepped = p->repeat && !(p->stop >= 0 && p->repeat == k_cal_levels[level].unit);
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

// True when the field is a list of single values (no "*", range or step).
int single_values(const cal_field *f) {
    if (f->any) return 0;
    for (int i = 0; i < f->count; i++)
        if (f->parts[i].stop >= 0 || f->parts[i].repeat) return 0;
    return 1;
}

// "at 06:00 and 18:00" when the times of day are a few single values.
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
    sort_int64(times, n);
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

// The time phrase when the times are no few clock times: the minutes (or
// seconds), then the hours, then the seconds when they were not told first.
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

// The weekdays of bits (bit 0 = Monday): runs of three or more as "Monday
// to Friday", others one by one, separated by ", ".
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
        str_append(buf, cap, cal_weekday_long(d));
        if (e > d + 1) {
            str_append(buf, cap, " to ");
            str_append(buf, cap, cal_weekday_long(e));
        } else if (e == d + 1) {
            str_append(buf, cap, ", ");
            str_append(buf, cap, cal_weekday_long(e));
        }
        d = e + 1;
    }
}

// "every Monday to Friday", "every day", "on the last day", "on day 1 and
// 15", then the months, the years and a weekday condition when the days are
// restricted too.
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

// A shorthand's fixed text, else the time phrase and the date phrase (or
// "Every Monday at 00:00" for weekdays at a few clock times), capitalized,
// then the zone; cut to cap at the end.
void cal_describe(const cal_spec *cs, char *out, size_t cap) {
    if (!out || cap == 0) return;
    out[0] = 0;
    if (!cs || !cs->valid) return;
    const char *fixed = nullptr;
    for (const cal_shorthand &s : k_cal_shorthands)
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
