// The normalized form of a calendar event, as systemd prints it: each list
// sorted by start, stop and repetition and freed of repeats; a stepped range
// ending on its last step; a repetition that never comes again dropped, and
// so a range of one value written as that value; all seven weekdays left
// out; "~" only with a day given; two digits a value (four for years), a
// fraction of a second with six.
#include "cron/calendar_text.h"

#include <string.h>

#include "util/platform.h"
#include "util/str.h"

namespace {

constexpr int64_t k_usec = 1000000;

const char *const k_day_short[7] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};

// The output text and whether anything was cut from it.
struct writer {
    char *out;
    size_t cap;
    int cut;
};

void put(writer *w, const char *s) {
    if (str_append(w->out, w->cap, s)) w->cut = 1;
}

// v (never negative) in decimal, zero-padded to width digits; by hand, as
// the Windows runtime's printf knows no "%lld".
void put_number(writer *w, int64_t v, int width) {
    char buf[32], *p = buf + sizeof buf - 1;
    *p = 0;
    uint64_t u = v < 0 ? 0 : (uint64_t)v;
    int digits = 0;
    do {
        *--p = (char)('0' + u % 10);
        u /= 10;
        digits++;
    } while (u || digits < width);
    put(w, p);
}

// A value of the level: whole units, and for seconds six decimals of a
// fraction (or of a part that is all fraction).
void put_value(writer *w, int64_t v, int width, int usec) {
    const int64_t d = usec ? k_usec : 1;
    put_number(w, v / d, width);
    if (v % d > 0) {
        put(w, ".");
        put_number(w, v % d, 6);
    }
}

int part_less(const cal_part &a, const cal_part &b) {
    if (a.start != b.start) return a.start < b.start;
    if (a.stop != b.stop) return a.stop < b.stop;
    return a.repeat < b.repeat;
}

// One field's list in systemd's order, without repeats; returns the count.
int normal_parts(const cal_field *f, cal_part out[CAL_PARTS]) {
    int n = 0;
    for (int i = 0; i < f->count && i < CAL_PARTS; i++) {
        cal_part p = f->parts[i];
        if (p.stop > p.start && p.repeat > 0) p.stop -= (p.stop - p.start) % p.repeat;
        if ((p.stop > p.start && p.start + p.repeat > p.stop) || p.start == p.stop) {
            p.repeat = 0;
            p.stop = -1;
        }
        int at = n;
        while (at > 0 && part_less(p, out[at - 1])) {
            out[at] = out[at - 1];
            at--;
        }
        out[at] = p;
        n++;
    }
    int kept = 0;
    for (int i = 0; i < n; i++)
        if (!kept || memcmp(&out[i], &out[kept - 1], sizeof out[i]) != 0) out[kept++] = out[i];
    return kept;
}

// A field: "*", or its list. For seconds, "*" also stands for every whole
// second from 0 ("0/1").
void put_field(writer *w, const cal_field *f, int width, int usec) {
    cal_part parts[CAL_PARTS];
    const int n = f->any ? 0 : normal_parts(f, parts);
    if (n == 0 ||
        (usec && n == 1 && parts[0].start == 0 && parts[0].stop < 0 && parts[0].repeat == k_usec)) {
        put(w, "*");
        return;
    }
    const int64_t d = usec ? k_usec : 1;
    for (int i = 0; i < n; i++) {
        const cal_part &p = parts[i];
        if (i) put(w, ",");
        put_value(w, p.start, width, usec);
        if (p.stop > 0) {
            put(w, "..");
            put_value(w, p.stop, width, usec);
        }
        if (p.repeat > 0 && !(p.stop > 0 && p.repeat == d)) {
            put(w, "/");
            put_value(w, p.repeat, 0, usec);
        }
    }
}

// Runs of three or more days as "A..C", shorter ones listed: "Mon..Wed,Fri".
void put_weekdays(writer *w, int bits) {
    int first = 1;
    for (int d = 0; d < 7; d++) {
        if (!(bits & (1 << d))) continue;
        int e = d;
        while (e + 1 < 7 && (bits & (1 << (e + 1)))) e++;
        if (!first) put(w, ",");
        first = 0;
        put(w, k_day_short[d]);
        if (e > d) {
            put(w, e > d + 1 ? ".." : ",");
            put(w, k_day_short[e]);
        }
        d = e;
    }
}

} // namespace

int cal_normalized(const cal_spec *cs, char *out, size_t cap) {
    if (!out || cap == 0) return 0;
    out[0] = 0;
    writer w = {out, cap, 0};
    if (cs->weekdays > 0 && cs->weekdays < 127) {
        put_weekdays(&w, cs->weekdays);
        put(&w, " ");
    }
    const cal_field *f = cs->fields;
    put_field(&w, &f[CAL_YEAR], 4, 0);
    put(&w, "-");
    put_field(&w, &f[CAL_MONTH], 2, 0);
    put(&w, cs->end_of_month && !f[CAL_DAY].any ? "~" : "-");
    put_field(&w, &f[CAL_DAY], 2, 0);
    put(&w, " ");
    put_field(&w, &f[CAL_HOUR], 2, 0);
    put(&w, ":");
    put_field(&w, &f[CAL_MINUTE], 2, 0);
    put(&w, ":");
    put_field(&w, &f[CAL_SECOND], 2, 1);
    if (cs->utc) {
        put(&w, " UTC");
    } else if (cs->zone[0]) {
        put(&w, " ");
        put(&w, cs->zone);
    } else if (cs->dst == 0 || cs->dst == 1) {
        const char *std_name, *dst_name;
        plat_node_zone_abbrevs(&std_name, &dst_name);
        const char *name = cs->dst ? dst_name : std_name;
        if (name && name[0]) {
            put(&w, " ");
            put(&w, name);
        }
    }
    return !w.cut;
}
