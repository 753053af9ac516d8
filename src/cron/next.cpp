#include "cron/civil.h"
#include "cron/cron.h"

// Both day fields restricted: either one is enough, as in classic cron.
static int day_matches(const cron_expr *ce, int mday, int wday) {
    int dom = ce->days_of_month[mday], dow = ce->days_of_week[wday];
    if (ce->dom_restricted && ce->dow_restricted) return dom || dow;
    if (ce->dom_restricted) return dom;
    if (ce->dow_restricted) return dow;
    return 1;
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

// Walks the UTC calendar from today a month at a time, passing over months
// that cannot match, and lists the selected minutes of each matching day.
int cron_next_runs(const cron_expr *ce, int64_t now, int64_t out[CRON_MAX_RUNS]) {
    if (!ce->valid || ce->boot_only) return 0;
    // The clock fields are matched against UTC: every day has 24 hours of
    // 3600 seconds and no daylight-saving gap or repeat.
    const int64_t today = floor_div(now, 86400);
    const int64_t end =
        today + k_horizon_days <= k_last_day ? today + k_horizon_days : k_last_day + 1;
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
                if (!day_matches(ce, d, weekday_of_day(day))) continue;
                const int64_t midnight = day * 86400;
                for (int h = 0; h < 24; h++) {
                    // An hour over by now has no run to give: a search
                    // continued late in a day skips it whole.
                    if (!ce->hours[h] || midnight + 3600 * h + 3540 <= now) continue;
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
