// Next runs as a cron daemon finds them: matched against the wall clock of the
// process's local zone, with the daemon's own day rule and daylight-saving
// rules.
//
// Rules (Debian's cron(8) and crontab(5); cronie behaves the same here):
// - A schedule is matched against local calendar fields, minute by minute.
// - Day rule: a day-of-month or day-of-week field whose text begins with "*"
//   is unrestricted. When either is unrestricted both must match (the other
//   alone decides); when both are restricted either one is enough. The
//   keywords count as written out ("@weekly" = "0 0 * * 0").
// - A job is "wildcard" when its minute or hour field begins with "*" (and
//   @hourly); every other job runs at fixed times.
// - Forward jump of less than 3 hours (daylight saving starts): the local
//   minutes skipped never come. Fixed-time jobs due in them run once, at the
//   first minute after the change; wildcard jobs only follow the new clock.
// - Backward jump of less than 3 hours (daylight saving ends): the repeated
//   local minutes come twice. Fixed-time jobs run at the first pass only;
//   wildcard jobs run at both.
// - A jump of 3 hours or more is a correction: the new clock is used at once,
//   for every job alike (no catch-up, repeated minutes run again).
#include "cron/civil.h"
#include "cron/cron.h"
#include "cron/daemon.h"
#include "cron/zone_cache.h"

namespace {

const int64_t k_correction = 3 * 3600;

// Offset east of UTC at t in the conversion zone; *ok becomes 0 when t cannot
// be converted.
int32_t offset_at(zone_cache *z, int64_t t, int *ok) {
    int32_t off = 0;
    if (!zone_offset_at(z, t, &off)) *ok = 0;
    return off;
}

// Adds t to the ascending list runs (count *n) when it is after now.
void add_run(int64_t runs[RUN_LIST_MAX], int *n, int64_t now, int64_t t) {
    if (t > now) merge_runs(runs, n, &t, 1);
}

// The instants at which the local wall clock shows local (seconds of a local
// day count, as if local time were UTC), and when it never does, the instant
// of the change that skipped it. Adds the runs the rules give to runs (count
// *n). Returns 1, or 0 when the zone cannot convert a time.
int resolve(zone_cache *z, int64_t local, int wildcard, int64_t now, int64_t runs[RUN_LIST_MAX],
            int *n) {
    int ok = 1;
    const int32_t before = offset_at(z, local - 86400, &ok);
    const int32_t after = offset_at(z, local + 86400, &ok);
    const int64_t ta = local - before, tb = local - after;
    const int va = offset_at(z, ta, &ok) == before;
    const int vb = ta != tb && offset_at(z, tb, &ok) == after;
    if (!ok) return 0;
    if (va && vb) { // shown twice: the clock went back
        const int64_t first = ta < tb ? ta : tb, second = ta < tb ? tb : ta;
        add_run(runs, n, now, first);
        if (wildcard || before - after >= k_correction) add_run(runs, n, now, second);
    } else if (va || vb) {
        add_run(runs, n, now, va ? ta : tb);
    } else if (after > before && !wildcard && after - before < k_correction) {
        // Skipped: the change lies in (tb, ta]; find its first whole minute.
        int64_t lo = tb, hi = ta; // offset(lo) is the old one, offset(hi) the new
        while (hi - lo > 60) {
            int64_t mid = lo + (hi - lo) / 2;
            if (offset_at(z, mid, &ok) == after)
                hi = mid;
            else
                lo = mid;
            if (!ok) return 0;
        }
        // The first whole minute after lo is the change itself when the change
        // falls on a minute, as zone changes do.
        const int64_t minute = lo + 60 - ((lo % 60) + 60) % 60;
        add_run(runs, n, now, minute);
    }
    return 1;
}

// Adds the runs of the selected minutes of local day day (days from
// 1970-01-01 of the local calendar) to runs (count *n): one instant each where
// no clock change is near (the zone cache's rule), else what resolve finds.
// Returns 1, or 0 when the zone cannot convert a time.
int add_day_runs(zone_cache *z, const cron_expr *ce, int wildcard, int64_t day, int64_t now,
                 int64_t runs[RUN_LIST_MAX], int *n) {
    int32_t offset, isdst, latest;
    const int steady = zone_steady_offset(z, day, &offset, &isdst);
    if (steady) {
        latest = offset;
    } else {
        int ok = 1;
        const int32_t ob = offset_at(z, (day - 1) * 86400, &ok);
        const int32_t oa = offset_at(z, (day + 2) * 86400, &ok);
        if (!ok) return 0;
        latest = ob > oa ? ob : oa;
    }
    for (int h = 0; h < 24; h++) {
        if (!ce->hours[h]) continue;
        // On a day without a clock change, an hour over by now has no run.
        if (steady && day * 86400 + h * 3600 + 3540 - offset <= now) continue;
        for (int mi = 0; mi < 60; mi++) {
            if (!ce->minutes[mi]) continue;
            const int64_t local = day * 86400 + h * 3600 + mi * 60;
            // Later minutes of the day can only come later.
            if (*n == RUN_LIST_MAX && local - latest > runs[RUN_LIST_MAX - 1]) break;
            if (steady)
                add_run(runs, n, now, local - offset);
            else if (!resolve(z, local, wildcard, now, runs, n))
                return 0;
        }
    }
    return 1;
}

} // namespace

// Walks the local days, a month at a time where the month is not selected,
// and adds the runs of each day that the daemon's day rule selects; stops
// once a later day can only bring later runs.
int cron_next_runs_local(const cron_expr *ce, int64_t now, int64_t out[CRON_MAX_RUNS]) {
    if (!ce->valid || ce->boot_only) return 0;
    if (now < -k_time_limit || now > k_time_limit) return 0;
    cron_daemon dm;
    cron_daemon_flags(ce, &dm);
    zone_cache *z = zone_cache_for(0);
    int64_t runs[RUN_LIST_MAX];
    int n = 0;
    int ok = 1;
    // Local days, from the day before today's (a repeated hour may still be
    // ahead of now there); one day more than the UTC search's horizon, so
    // that both end on the same day.
    const int64_t local_now = now + offset_at(z, now, &ok);
    if (!ok) return 0;
    int64_t day = floor_div(local_now, 86400) - 1;
    const int64_t end = day + k_horizon_days + 1;
    int64_t y;
    int m, d;
    civil_from_days(day, &y, &m, &d);
    while (day < end) {
        // Any instant of a later local day is later than one day before it.
        if (n == RUN_LIST_MAX && (day - 1) * 86400 > runs[RUN_LIST_MAX - 1]) break;
        const int len = month_length(y, m);
        if (!ce->months[m]) {
            day += len - d + 1;
            d = len;
        } else {
            if (cron_daemon_day_matches(ce, &dm, d, weekday_of_day(day)) &&
                !add_day_runs(z, ce, dm.wildcard, day, now, runs, &n))
                return 0;
            day++;
        }
        if (++d > len) {
            d = 1;
            if (++m > 12) {
                m = 1;
                y++;
            }
        }
    }
    for (int i = 0; i < n; i++) out[i] = runs[i];
    return n;
}
