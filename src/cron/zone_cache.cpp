#include "cron/zone_cache.h"

#include <string.h>

#include "cron/civil.h"
#include "util/platform.h"
#include "util/str.h"

// The conversion zone's offset and daylight-saving flag at the start of the
// UTC days asked for so far, one slot per day number modulo ZONE_DAYS.
enum { ZONE_DAYS = 512 };
struct zone_cache {
    int utc;
    char tz[ZONE_KEY_CAP]; // zone_key of the zone the slots belong to
    int64_t day[ZONE_DAYS];
    int32_t offset[ZONE_DAYS];
    int32_t isdst[ZONE_DAYS];
    int32_t filled[ZONE_DAYS];
    // UTC days lo..hi over which the offset is known to stay the same.
    int32_t steady;
    int64_t steady_lo, steady_hi;
    int32_t steady_offset, steady_isdst;
    // The last conversion answered here rather than by mktime, while mktime
    // has not been called since (see zone_to_time).
    int32_t unseen;
    struct tm last;
};

namespace {

zone_cache g_zone_cache;

// Years whose wall times zone_to_time answers by arithmetic; the others (the
// year of 1970 itself among them, where a time may fall before it) are left
// to mktime.
constexpr int k_first_arith_year = 1971;
constexpr int k_last_arith_year = 2200;

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
// already, perhaps overflowing: fields in range stay, the others are carried.
void set_wall(struct tm *tm, int64_t w, int isdst, int32_t offset, int named) {
    static const short k_before[13] = {0, 0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
    const int64_t days = floor_div(w, 86400);
    int64_t y = named ? (int64_t)tm->tm_year + 1900 : 0;
    int m = named ? tm->tm_mon + 1 : 0, d = named ? tm->tm_mday : 0;
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
    tm->tm_wday = weekday_of_day(days);
    tm->tm_yday = k_before[m] + d - 1 + (m > 2 && month_length(y, 2) == 29);
    tm->tm_isdst = isdst;
#ifndef _WIN32
    tm->tm_gmtoff = offset;
#else
    (void)offset;
#endif
}

// The offset and flag at the start of UTC day day, from its slot or the C
// library. Returns 0 when the zone cannot convert it.
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

} // namespace

void zone_key(char key[ZONE_KEY_CAP], const char *tz) {
    if (!tz) {
        str_copy(key, ZONE_KEY_CAP, "-");
        return;
    }
    const size_t len = strlen(tz);
    if (len + 2 > ZONE_KEY_CAP) {
        key[0] = 0;
        return;
    }
    key[0] = '=';
    memcpy(key + 1, tz, len + 1);
}

zone_cache *zone_cache_for(int utc) {
    zone_cache *z = &g_zone_cache;
    z->utc = utc;
    if (utc) return z;
    char key[ZONE_KEY_CAP];
    zone_key(key, plat_zone_tz());
    if (!key[0] || strcmp(key, z->tz) != 0) {
        memset(z->filled, 0, sizeof z->filled);
        z->steady = 0;
        z->unseen = 0;
        str_set(z->tz, key);
    }
    return z;
}

// Answered from the steady span when day - 1 .. day + 2 lie within it; else
// the four day starts are compared and the span grown or begun anew.
int zone_steady_offset(zone_cache *z, int64_t day, int32_t *offset, int32_t *isdst) {
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

int zone_offset_at(zone_cache *z, int64_t t, int32_t *offset) {
    int32_t isdst;
    if (z->utc) {
        *offset = 0;
        return 1;
    }
    if (zone_steady_offset(z, floor_div(t, 86400), offset, &isdst)) return 1;
    return plat_utc_offset(t, offset);
}

int64_t zone_to_time(zone_cache *z, struct tm *tm) {
    const int year = tm->tm_year + 1900;
    if (year < k_first_arith_year || year > k_last_arith_year) return c_mktime(z, tm);
    const int64_t w = wall_seconds(tm);
    if (z->utc) {
        set_wall(tm, w, 0, 0, 1);
        return w;
    }
    const int64_t day = floor_div(w, 86400);
    int32_t offset, isdst;
    if (zone_steady_offset(z, day, &offset, &isdst) &&
        (tm->tm_isdst < 0 || (tm->tm_isdst > 0) == isdst)) {
        set_wall(tm, w, isdst, offset, 1);
        z->last = *tm;
        z->unseen = 1;
        return w - offset;
    }
    return c_mktime(z, tm);
}

int zone_break_down(zone_cache *z, int64_t t, struct tm *out) {
    int32_t offset = 0, isdst = 0;
    if (!z->utc && !zone_steady_offset(z, floor_div(t, 86400), &offset, &isdst))
        return plat_localtime(t, out);
    set_wall(out, t + offset, isdst, offset, 0);
    return 1;
}
