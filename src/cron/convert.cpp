// Cron lines and calendar events, each written in the other's language.
//
// Cron to systemd: the presence tables become systemd chains ("*", "a..b/k"
// for an even step of many values, else a list of values and "a..b" runs), the
// weekdays names. The daemon's day rule decides the values: with a day field
// that begins with "*" both day tables must match, as in one systemd value;
// with both restricted either is enough, which takes two values, one for the
// days of the month and one for the weekdays.
//
// Systemd to cron: whole minutes only, every year, no "~", the node's zone,
// no repetition that systemd carries past a new day's first value;
// a day of the month and a weekday together (systemd wants both) only when
// the days of the month can be written "*/k", which makes the daemon want
// both too.
//
// On the days the clock changes the two part (cron(8), systemd.time(7)):
// when it moves forward, cron runs a fixed time of the skipped hour right
// after the change and systemd skips it; when it moves back, a job whose
// minute or hour field begins with "*" runs in both passes of the repeated
// hour under cron and once under systemd.
#include "cron/convert.h"

#include <stdio.h>
#include <string.h>
#include <time.h>

#include "cron/calendar_text.h"
#include "cron/civil.h"
#include "cron/daemon.h"
#include "util/platform.h"
#include "util/str.h"

namespace {

const char *const k_systemd_days[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};

// The selected values of t[lo..hi], ascending; returns how many.
int selected(const unsigned char *t, int lo, int hi, int *out) {
    int n = 0;
    for (int v = lo; v <= hi; v++)
        if (t[v]) out[n++] = v;
    return n;
}

// The common step of the n values, or 0 when they are fewer than three or
// not evenly spaced.
int even_step(const int *v, int n) {
    if (n < 3) return 0;
    const int k = v[1] - v[0];
    for (int i = 2; i < n; i++)
        if (v[i] - v[i - 1] != k) return 0;
    return k;
}

void append_int(char *out, size_t cap, int v, int width) {
    char buf[16];
    snprintf(buf, sizeof buf, "%0*d", width, v);
    str_append(out, cap, buf);
}

// A list of values as items: runs of at least min_run values as first, sep,
// last; shorter runs value by value. Returns the number of items.
int put_runs(const int *v, int n, int min_run, const char *sep, int width, char *out, size_t cap) {
    int items = 0;
    for (int i = 0; i < n;) {
        int j = i;
        while (j + 1 < n && v[j + 1] == v[j] + 1) j++;
        const int run = j - i + 1;
        if (run >= min_run) {
            if (items++) str_append(out, cap, ",");
            append_int(out, cap, v[i], width);
            str_append(out, cap, sep);
            append_int(out, cap, v[j], width);
        } else {
            for (int k = i; k <= j; k++) {
                if (items++) str_append(out, cap, ",");
                append_int(out, cap, v[k], width);
            }
        }
        i = j + 1;
    }
    return items;
}

// A table of values lo..hi as a systemd chain. A list is kept within the
// parts a chain may have: pairs become ranges when single values are too many.
void systemd_chain(const unsigned char *t, int lo, int hi, char *out, size_t cap) {
    int v[64];
    const int n = selected(t, lo, hi, v);
    out[0] = 0;
    if (n == hi - lo + 1) {
        str_copy(out, cap, "*");
        return;
    }
    // An even step of more than six values as a closed range: systemd 252
    // can carry an open repetition ("00/10") into a new month past its first
    // value (from 2027-01-31 20:19, "*-*-* 00/10:19" comes next at 02-01
    // 10:19, not 00:19; within a month it does not).
    const int k = n > 6 ? even_step(v, n) : 0;
    if (k > 1) {
        append_int(out, cap, v[0], 2);
        str_append(out, cap, "..");
        append_int(out, cap, v[n - 1], 2);
        str_append(out, cap, "/");
        append_int(out, cap, k, 0);
        return;
    }
    if (put_runs(v, n, 3, "..", 2, out, cap) > CAL_PARTS) {
        out[0] = 0;
        put_runs(v, n, 2, "..", 2, out, cap);
    }
}

// A table of values lo..hi as a cron field: "*", "*/k", "a-b/k" or a list
// of values and "a-b" runs.
void cron_field_text(const unsigned char *t, int lo, int hi, char *out, size_t cap) {
    int v[64];
    const int n = selected(t, lo, hi, v);
    out[0] = 0;
    if (n == hi - lo + 1) {
        str_copy(out, cap, "*");
        return;
    }
    const int k = even_step(v, n);
    if (k > 1 && v[0] == lo && v[n - 1] + k > hi) {
        str_copy(out, cap, "*/");
        append_int(out, cap, k, 0);
        return;
    }
    if (k > 1) {
        append_int(out, cap, v[0], 0);
        str_append(out, cap, "-");
        append_int(out, cap, v[n - 1], 0);
        str_append(out, cap, "/");
        append_int(out, cap, k, 0);
        return;
    }
    put_runs(v, n, 3, "-", 0, out, cap);
}

// The "*/k" form of a table of values lo..hi, which the daemon counts as
// unrestricted although it selects only every k-th value; "" when the
// selection is no such form. k up to limit (a weekday step of 7 selects
// Sunday, 0 and 7, alone).
void star_step_text(const unsigned char *t, int lo, int hi, int limit, char *out, size_t cap) {
    out[0] = 0;
    for (int k = 1; k <= limit; k++) {
        int same = 1;
        for (int v = lo; v <= hi && same; v++) same = !t[v] == !((v - lo) % k == 0);
        if (!same) continue;
        str_copy(out, cap, k == 1 ? "*" : "*/");
        if (k > 1) append_int(out, cap, k, 0);
        return;
    }
}

int all_set(const unsigned char *t, int lo, int hi) {
    for (int v = lo; v <= hi; v++)
        if (!t[v]) return 0;
    return 1;
}

// One OnCalendar= value from the tables (days_of_week null: every weekday),
// in systemd's normalized form.
void timer_value(const cron_expr *ce, const unsigned char *dom, const unsigned char *dow, char *out,
                 size_t cap) {
    char text[TIMER_VALUE_MAX] = "", chain[192];
    if (dow && !all_set(dow, 0, 6)) {
        int first = 1;
        // Monday first, as systemd writes them.
        for (int i = 1; i <= 7; i++) {
            if (!dow[i % 7]) continue;
            if (!first) str_append(text, sizeof text, ",");
            first = 0;
            str_append(text, sizeof text, k_systemd_days[i % 7]);
        }
        str_append(text, sizeof text, " ");
    }
    str_append(text, sizeof text, "*-");
    systemd_chain(ce->months, 1, 12, chain, sizeof chain);
    str_append(text, sizeof text, chain);
    str_append(text, sizeof text, "-");
    if (dom)
        systemd_chain(dom, 1, 31, chain, sizeof chain);
    else
        str_set(chain, "*");
    str_append(text, sizeof text, chain);
    str_append(text, sizeof text, " ");
    systemd_chain(ce->hours, 0, 23, chain, sizeof chain);
    str_append(text, sizeof text, chain);
    str_append(text, sizeof text, ":");
    systemd_chain(ce->minutes, 0, 59, chain, sizeof chain);
    str_append(text, sizeof text, chain);
    str_append(text, sizeof text, ":00");
    cal_spec cs;
    if (!cal_parse(&cs, text) || !cal_normalized(&cs, out, cap)) str_copy(out, cap, text);
}

// Seconds east of UTC at t in the process's zone; *ok cleared on failure.
int64_t offset_at(int64_t t, int *ok) {
    struct tm tm;
    if (!plat_localtime(t, &tm)) {
        *ok = 0;
        return 0;
    }
    const int64_t wall = days_from_civil(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday) * 86400 +
                         tm.tm_hour * 3600 + tm.tm_min * 60 + tm.tm_sec;
    return wall - t;
}

// True when the daemon's tables select the wall-clock minute w (seconds
// since 1970 read as UTC).
int selects_wall(const cron_expr *ce, const cron_daemon *dm, int64_t w) {
    const int64_t day = w >= 0 ? w / 86400 : (w - 86399) / 86400;
    const int64_t s = w - day * 86400;
    int64_t y;
    int m, d;
    civil_from_days(day, &y, &m, &d);
    const int wday = weekday_of_day(day);
    return ce->months[m] && cron_daemon_day_matches(ce, dm, d, wday) && ce->hours[s / 3600] &&
           ce->minutes[s / 60 % 60];
}

// True when some whole wall minute in [from, to) is selected.
int selects_between(const cron_expr *ce, const cron_daemon *dm, int64_t from, int64_t to) {
    for (int64_t w = (from + 59) / 60 * 60; w < to; w += 60)
        if (selects_wall(ce, dm, w)) return 1;
    return 0;
}

} // namespace

void clock_change_note(const cron_expr *ce, int64_t now, char *note) {
    note[0] = 0;
    if (!ce->valid || ce->boot_only) return;
    cron_daemon dm;
    cron_daemon_flags(ce, &dm);
    int forward = 0, back = 0, ok = 1;
    // Weekly probes, then the second of each change found; no zone changes
    // its clock twice within a week.
    const int64_t step = 7 * 86400, end = now + 366 * 86400;
    int64_t a = now, oa = offset_at(a, &ok);
    while (ok && a < end) {
        const int64_t b = a + step;
        const int64_t ob = offset_at(b, &ok);
        if (ok && ob != oa) {
            int64_t lo = a, hi = b; // offset(lo) == oa, offset(hi) != oa
            while (hi - lo > 1) {
                const int64_t mid = lo + (hi - lo) / 2;
                if (offset_at(mid, &ok) == oa)
                    lo = mid;
                else
                    hi = mid;
            }
            const int64_t o1 = oa, o2 = offset_at(hi, &ok), delta = o2 - o1;
            // The skipped runs fall on the first minute after the change:
            // a run of its own there leaves nothing to tell them apart.
            if (ok && hi < end && delta > 0 && delta < 3 * 3600 && !dm.wildcard &&
                selects_between(ce, &dm, hi + o1, hi + o2) && !selects_wall(ce, &dm, hi + o2))
                forward = 1;
            if (ok && hi < end && delta < 0 && delta > -3 * 3600 && dm.wildcard &&
                selects_between(ce, &dm, hi + o2, hi + o1))
                back = 1;
            // Past this change, with its offset.
            a = hi;
            oa = o2;
            continue;
        }
        a = b;
        oa = ob;
    }
    if (forward && back)
        str_copy(note, CONVERT_NOTE_MAX,
                 "When the clock moves forward, cron runs the times of the skipped hour right "
                 "after the change and systemd skips them; when it moves back, cron runs the "
                 "times of the repeated hour twice and systemd once.");
    else if (forward)
        str_copy(note, CONVERT_NOTE_MAX,
                 "When the clock moves forward, cron runs the times of the skipped hour right "
                 "after the change, while systemd skips them.");
    else if (back)
        str_copy(note, CONVERT_NOTE_MAX,
                 "When the clock moves back, cron runs the times of the repeated hour twice, "
                 "while systemd runs them once.");
}

int cron_to_timer(const cron_expr *ce, int64_t now, timer_form *out) {
    memset(out, 0, sizeof *out);
    if (!ce->valid) return 0;
    if (ce->boot_only) {
        str_set(out->on_boot_sec, "0");
        return 1;
    }
    cron_daemon dm;
    cron_daemon_flags(ce, &dm);
    const unsigned char *dom = ce->days_of_month, *dow = ce->days_of_week;
    if (dm.dom_star || dm.dow_star || all_set(dom, 1, 31) || all_set(dow, 0, 6)) {
        // One value: both tables must match (or one of them is every day,
        // which under either rule leaves the other).
        const int every_day = !dm.dom_star && !dm.dow_star;
        timer_value(ce, every_day ? nullptr : dom, every_day ? nullptr : dow, out->on_calendar[0],
                    TIMER_VALUE_MAX);
        out->count = 1;
    } else {
        timer_value(ce, dom, nullptr, out->on_calendar[0], TIMER_VALUE_MAX);
        timer_value(ce, nullptr, dow, out->on_calendar[1], TIMER_VALUE_MAX);
        out->count = 2;
    }
    clock_change_note(ce, now, out->note);
    return 1;
}

namespace {

// The values a calendar field selects within lo..hi, into t (cleared here).
void field_table(const cal_field *f, int lo, int hi, unsigned char *t) {
    memset(t, 0, (size_t)hi + 1);
    for (int v = lo; v <= hi; v++) t[v] = (unsigned char)f->any;
    for (int i = 0; i < f->count && !f->any; i++) {
        const cal_part &p = f->parts[i];
        const int64_t last = p.stop >= 0 ? p.stop : p.repeat ? hi : p.start;
        const int64_t step = p.repeat > 0 ? p.repeat : 1;
        for (int64_t v = p.start; v <= last && v <= hi; v += step)
            if (v >= lo) t[v] = 1;
    }
}

// The name TZ gives the node's zone, or "" when it is unset.
const char *node_zone(void) {
    const char *tz = plat_node_tz();
    return tz ? (tz[0] == ':' ? tz + 1 : tz) : "";
}

int is_utc_name(const char *z) {
    return strcmp(z, "UTC") == 0 || strcmp(z, "Etc/UTC") == 0 || strcmp(z, "UTC0") == 0;
}

int refuse(cron_form *out, const char *reason) {
    str_set(out->reason, reason);
    return 0;
}

// True when systemd elapses cs at the times its fields select, as a cron line
// of the same tables runs. An open repetition ("*:00/7") is where they can
// part: stepped past its field's end at the end of a day, a month or a year,
// it carries into the new one (00:03), and the values before that are not
// elapsed there (00:00). A minute, hour or month repetition that lands on or
// before the field's first value (00/15: 60, which is 00) cannot; the others
// are searched in UTC from the last minute of each day of a leap year and
// both its year ends, beside the same value with each open repetition closed
// at its field's end, which never carries.
int carries_agree(const cal_spec *cs) {
    static const int64_t k_field_lo[CAL_LEVELS] = {0, 1, 1, 0, 0, 0};
    static const int64_t k_field_end[CAL_LEVELS] = {0, 12, 31, 23, 59, 0};
    static cal_spec open, closed;
    int search = 0;
    open = *cs;
    open.utc = 1;
    open.zone[0] = 0;
    open.dst = -1;
    closed = open;
    for (int level = CAL_MONTH; level <= CAL_MINUTE; level++) {
        cal_field &f = closed.fields[level];
        int64_t lowest = k_field_end[level];
        for (int i = 0; i < f.count; i++)
            if (f.parts[i].start < lowest) lowest = f.parts[i].start;
        for (int i = 0; i < f.count; i++) {
            cal_part &p = f.parts[i];
            if (p.repeat <= 0 || p.stop >= 0) continue;
            const int64_t span = k_field_end[level] - k_field_lo[level] + 1;
            const int64_t last = p.start + (k_field_end[level] - p.start) / p.repeat * p.repeat;
            if (level == CAL_DAY || last + p.repeat - span > lowest) search = 1;
            p.stop = k_field_end[level];
        }
    }
    if (!search) return 1;
    const int64_t first = days_from_civil(2027, 12, 31);
    for (int64_t day = first; day <= first + 366; day++) {
        const int64_t t = day * 86400 + 86340;
        int64_t a[CAL_MAX_RUNS], b[CAL_MAX_RUNS];
        const int na = cal_next_runs(&open, t, a), nb = cal_next_runs(&closed, t, b);
        if (na != nb || memcmp(a, b, (size_t)na * sizeof a[0]) != 0) return 0;
    }
    return 1;
}

} // namespace

int cal_to_cron(const cal_spec *cs, int64_t now, cron_form *out) {
    memset(out, 0, sizeof *out);
    if (!cs->valid) return refuse(out, "invalid calendar expression");
    const cal_field *f = cs->fields;
    const cal_field &sec = f[CAL_SECOND];
    if (sec.any || sec.count < 1) return refuse(out, "seconds are not expressible in cron");
    for (int i = 0; i < sec.count; i++)
        if (sec.parts[i].start != 0 || sec.parts[i].stop > 0 ||
            (sec.parts[i].stop < 0 && sec.parts[i].repeat))
            return refuse(out, "seconds are not expressible in cron");
    if (!f[CAL_YEAR].any) return refuse(out, "years are not expressible in cron");
    if (cs->end_of_month && !f[CAL_DAY].any)
        return refuse(out, "days counted from the end of the month are not expressible in cron");
    if (cs->dst == 0 || cs->dst == 1)
        return refuse(out, "daylight saving time alone is not expressible in cron");
    if ((cs->utc && !is_utc_name(node_zone())) ||
        (cs->zone[0] && strcmp(cs->zone, node_zone()) != 0))
        return refuse(out, "a zone other than the node's is not expressible in cron");
    if (!carries_agree(cs))
        return refuse(out, "a repetition that systemd carries into the next day, month or year "
                           "is not expressible in cron");

    unsigned char minutes[60], hours[24], dom[32], months[13], dow[7];
    field_table(&f[CAL_MINUTE], 0, 59, minutes);
    field_table(&f[CAL_HOUR], 0, 23, hours);
    field_table(&f[CAL_DAY], 1, 31, dom);
    field_table(&f[CAL_MONTH], 1, 12, months);
    for (int d = 0; d < 7; d++) dow[d] = !cs->weekdays || (cs->weekdays & (1 << ((d + 6) % 7)));

    char fields[5][128];
    cron_field_text(minutes, 0, 59, fields[0], sizeof fields[0]);
    cron_field_text(hours, 0, 23, fields[1], sizeof fields[1]);
    cron_field_text(months, 1, 12, fields[3], sizeof fields[3]);
    const int some_days = !all_set(dom, 1, 31), some_weekdays = !all_set(dow, 0, 6);
    if (some_days && some_weekdays) {
        // The daemon wants both only when a day field begins with "*".
        star_step_text(dom, 1, 31, 31, fields[2], sizeof fields[2]);
        if (fields[2][0]) {
            cron_field_text(dow, 0, 6, fields[4], sizeof fields[4]);
        } else {
            cron_field_text(dom, 1, 31, fields[2], sizeof fields[2]);
            star_step_text(dow, 0, 6, 7, fields[4], sizeof fields[4]);
            if (!fields[4][0])
                return refuse(out, "a day of the month together with a weekday is not "
                                   "expressible in cron, which runs on either");
        }
    } else {
        cron_field_text(dom, 1, 31, fields[2], sizeof fields[2]);
        cron_field_text(dow, 0, 6, fields[4], sizeof fields[4]);
    }
    snprintf(out->line, sizeof out->line, "%s %s %s %s %s", fields[0], fields[1], fields[2],
             fields[3], fields[4]);
    cron_expr ce;
    if (!cron_parse(&ce, out->line)) return refuse(out, "not expressible in cron");
    clock_change_note(&ce, now, out->note);
    out->expressible = 1;
    return 1;
}
