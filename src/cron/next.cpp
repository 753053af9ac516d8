#include "cron/cron.h"

// Howard Hinnant's civil calendar algorithms: March-based years in 400-year
// eras of 146097 days, shifted so that day 0 is 1970-01-01.
int64_t days_from_civil(int64_t y, int m, int d) {
    y -= m <= 2;
    int64_t era = (y >= 0 ? y : y - 399) / 400;
    int64_t yoe = y - era * 400;
    int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void civil_from_days(int64_t z, int64_t *y, int *m, int *d) {
    z += 719468;
    int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    int64_t doe = z - era * 146097;
    int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    int64_t mp = (5 * doy + 2) / 153;
    *d = (int)(doy - (153 * mp + 2) / 5 + 1);
    *m = (int)(mp < 10 ? mp + 3 : mp - 9);
    *y = yoe + era * 400 + (*m <= 2);
}

static int64_t floor_div(int64_t a, int64_t b) {
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

// Both day fields restricted: either one is enough, as in classic cron.
static int day_matches(const cron_expr *ce, int mday, int wday) {
    int dom = ce->days_of_month[mday], dow = ce->days_of_week[wday];
    if (ce->dom_restricted && ce->dow_restricted) return dom || dow;
    if (ce->dom_restricted) return dom;
    if (ce->dow_restricted) return dow;
    return 1;
}

int month_length(int64_t y, int m) {
    static const unsigned char k_len[13] = {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (m == 2 && ((y % 4 == 0 && y % 100 != 0) || y % 400 == 0)) return 29;
    return k_len[m];
}

// Whether any of the days first..last of a month can match; min_dom is the
// lowest selected day of month. A weekday rule can match in any stretch of
// days worth checking, so only a lone day-of-month rule lets a whole month be
// passed over.
static int month_may_match(const cron_expr *ce, int min_dom, int m, int first, int last) {
    if (!ce->months[m]) return 0;
    if (ce->dow_restricted || !ce->dom_restricted) return 1;
    if (first == 1) return min_dom <= last;
    for (int d = first; d <= last; d++)
        if (ce->days_of_month[d]) return 1;
    return 0;
}

// The days whose every minute is a representable time: a clock at the very
// ends of the 64-bit range finds fewer runs instead of overflowing.
static const int64_t k_first_day = INT64_MIN / 86400;
static const int64_t k_last_day = INT64_MAX / 86400 - 1;

int cron_next_runs(const cron_expr *ce, int64_t now, int64_t out[CRON_MAX_RUNS]) {
    if (!ce->valid || ce->boot_only) return 0;
    // The clock fields are matched against UTC: every day has 24 hours of
    // 3600 seconds and no daylight-saving gap or repeat.
    const int64_t today = floor_div(now, 86400);
    const int64_t end = today + 7305 <= k_last_day ? today + 7305 : k_last_day + 1;
    int64_t y, day = today;
    int m, d;
    civil_from_days(today, &y, &m, &d);
    int min_dom = 32;
    for (int k = 31; k >= 1; k--)
        if (ce->days_of_month[k]) min_dom = k;
    if (ce->dom_restricted && !ce->dow_restricted) {
        // Days that no selected month has (30 February, 31 April) never come;
        // 2000 is a leap year, so February counts with 29 days.
        int longest = 0;
        for (int k = 1; k <= 12; k++)
            if (ce->months[k] && month_length(2000, k) > longest) longest = month_length(2000, k);
        if (min_dom > longest) return 0;
    }
    int found = 0;
    // The calendar is walked month by month, so that a schedule whose days
    // never come costs a few checks per month instead of a date conversion
    // per day.
    while (day < end) {
        const int len = month_length(y, m);
        const int64_t next_month = day + (len - d) + 1;
        if (month_may_match(ce, min_dom, m, d, len)) {
            for (; day < next_month && day < end; day++, d++) {
                if (day < k_first_day) continue;
                int wday = (int)(((day % 7) + 11) % 7); // 1970-01-01 was a Thursday
                if (!day_matches(ce, d, wday)) continue;
                const int64_t midnight = day * 86400;
                for (int h = 0; h < 24; h++) {
                    if (!ce->hours[h]) continue;
                    for (int mi = 0; mi < 60; mi++) {
                        if (!ce->minutes[mi]) continue;
                        int64_t t = midnight + 3600 * h + 60 * mi;
                        if (t <= now) continue;
                        out[found++] = t;
                        if (found == CRON_MAX_RUNS) return found;
                    }
                }
            }
        }
        day = next_month;
        d = 1;
        if (++m > 12) {
            m = 1;
            y++;
        }
    }
    return found;
}
