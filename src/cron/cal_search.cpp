// The next-elapse search of calendar events, level by level as systemd's own
// search goes: the cursor's calendar fields move from the year down to the
// next value each field selects, and are normalized in the search's zone
// (UTC, the event's named zone or the conversion zone) through the zone
// cache, so that a moment that does not exist moves on as mktime moves it.

#include "cron/cal_tables.h"
#include "cron/calendar.h"
#include "cron/civil.h"
#include "cron/zone_cache.h"
#include "util/platform.h"

namespace {

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

// The value of one level of the cursor (seconds in microseconds).
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

// Sets one level of the cursor to v, as level_value reads it.
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

// Moves one level on by one and every level below it back to its start.
void bump(moment *m, int level) {
    set_level(m, level, level_value(m, level) + 1);
    clear_below(m, level);
}

// Normalizes the cursor's fields in place and says whether they named a
// moment that exists as written. Returns 1 when they did; 0 when normalizing
// moved them forward (Feb 30 to Mar 2, a skipped
// hour of a clock change), with m moved there and the level below the first
// changed one set back to its start, so that Mar 1 is not passed over; -1
// when the moment cannot be represented or would move backwards.
int normalize_cursor(zone_cache *z, moment *m) {
    if (m->tm.tm_year + 1900 > k_last_year) return -1;
    struct tm t = m->tm;
    if (zone_to_time(z, &t) < 0) return -1;
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

// The bit of cal_spec.weekdays (0 = Monday) of the date y-m-d.
int weekday_bit(int64_t y, int m, int d) {
    return 1 << ((weekday_of_day(days_from_civil(y, m, d)) + 6) % 7);
}

// True when the cursor's date is one of the record's weekdays (or any is).
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
            zone_to_time(z, &t);
        }
    }
}

// Moves m to the first selected moment at or after it. Like systemd, a level
// that has no further match (or lands on a moment that does not exist) moves
// the level above on by one and starts over from the year. Returns 1 with the
// time in *out, or 0 when nothing is selected before limit.
int find_next(const cal_spec *cs, zone_cache *z, moment *m, int64_t limit, int64_t *out) {
    for (int round = 0; round < 200000; round++) {
        int64_t now = zone_to_time(z, &m->tm);
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
            int fits = next < 0 ? -1 : (changed || cs->dst >= 0) ? normalize_cursor(z, m) : 1;
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
            *out = zone_to_time(z, &t);
            return *out >= 0 && *out < limit;
        }
    }
    return 0;
}

} // namespace

// From one microsecond after now (see below), finds one elapse after the other with
// find_next in the record's zone, pushed for the search, and the zone cache.
int cal_next_runs(const cal_spec *cs, int64_t now, int64_t out[CAL_MAX_RUNS]) {
    if (!cs || !cs->valid) return 0;
    // Calendar times start in 1970; the far end keeps day arithmetic in range.
    if (now < -1) now = -1;
    if (now > k_time_limit) return 0;
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
    //   (normalize_cursor); the others keep the carried values. Minutes 0/7
    //   from 23:59:59 give minute 63: 00:03 of the next day (hour set back
    //   to 0) or of 1 January (month set back to January), so the next run
    //   is 00:07, not 00:00. Hours 0/5 from 23:59:59 on the last day of a
    //   month give 01:00 of the 1st, so 05:00; seconds 0/7 from 10:59:59
    //   give 11:00:03, so 11:00:07.
    // A search from before 1970 starts at 1970-01-01 00:00:00 UTC itself.
    const int before_1970 = from < 0;
    if (zone_break_down(zone, before_1970 ? 0 : from, &m.tm)) {
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
                if (!zone_break_down(zone, whole ? from : from + 1, &m.tm)) break;
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

// Converts t with the C library alone and checks every level and the
// weekdays, in the record's zone.
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
