#include "jobs/timer_job.h"

#include <stdio.h>
#include <string.h>

#include "cron/calendar.h"
#include "jobs/timeline.h"
#include "util/platform.h"
#include "util/str.h"

namespace {

// "1 day 2 hours", "15 minutes", "0 seconds".
void append_span(char *buf, size_t cap, int64_t s) {
    const struct {
        int64_t size;
        const char *name;
    } k_parts[] = {{86400, "day"}, {3600, "hour"}, {60, "minute"}, {1, "second"}};
    int first = 1;
    for (const auto &part : k_parts) {
        int64_t n = s / part.size;
        s %= part.size;
        if (!n) continue;
        char item[48];
        snprintf(item, sizeof item, "%s%lld %s%s", first ? "" : " ", (long long)n, part.name,
                 n == 1 ? "" : "s");
        str_append(buf, cap, item);
        first = 0;
    }
    if (first) str_append(buf, cap, "0 seconds");
}

// "15 minutes after boot, then 1 day after each run"
void describe_monotonic(const timer_unit *t, char *out, size_t cap) {
    for (int i = 0; i < t->monotonic_count; i++) {
        char key[32];
        str_set(key, t->monotonic[i]);
        char *eq = strchr(key, '=');
        if (eq) *eq = 0;
        const char *value = strchr(t->monotonic[i], '=') + 1;
        if (i) str_append(out, cap, ", then ");
        int64_t s = span_seconds(value);
        if (s >= 0)
            append_span(out, cap, s);
        else
            str_append(out, cap, value);
        const char *phrase = unit_monotonic_phrase(key);
        if (phrase) {
            str_append(out, cap, " ");
            str_append(out, cap, phrase);
        }
    }
}

// ", plus up to 12 hours' random delay"; nothing for no delay.
void describe_delay(const char *delay, char *out, size_t cap) {
    if (!delay[0]) return;
    const int64_t s = span_seconds(delay);
    if (s <= 0) return;
    str_append(out, cap, ", plus up to ");
    append_span(out, cap, s);
    const int one = s == 1 || (s % 60 == 0 && s / 60 == 1) || (s % 3600 == 0 && s / 3600 == 1) ||
                    (s % 86400 == 0 && s / 86400 == 1);
    str_append(out, cap, one ? "'s random delay" : "' random delay");
}

// Several OnCalendar= values of one timer searched as one schedule, so that
// the window counts a time two of them name once. Each value keeps the runs
// its last search found; the search is asked again only when those no longer
// reach past the five earliest of all. The window asks with ascending times.
struct calendar_set {
    int count;
    cal_spec specs[TIMER_CALENDARS];
    int64_t runs[TIMER_CALENDARS][RUN_LIST_MAX];
    int kept[TIMER_CALENDARS];
    int ended[TIMER_CALENDARS]; // the last search found fewer than five
};

calendar_set g_calendars;

// The five earliest runs of the set after after, as a run_search.
int search_calendars(const void *p, int64_t after, int64_t out[RUN_LIST_MAX]) {
    calendar_set *set = &g_calendars;
    if (p != set) return 0;
    for (int i = 0; i < set->count; i++) {
        int drop = 0;
        while (drop < set->kept[i] && set->runs[i][drop] <= after) drop++;
        set->kept[i] -= drop;
        memmove(set->runs[i], set->runs[i] + drop, (size_t)set->kept[i] * sizeof(int64_t));
    }
    int n = 0;
    for (int again = 1; again;) {
        again = 0;
        n = 0;
        for (int i = 0; i < set->count; i++) merge_runs(out, &n, set->runs[i], set->kept[i]);
        for (int i = 0; i < set->count && !again; i++) {
            if (set->ended[i] || set->kept[i] == RUN_LIST_MAX) continue;
            const int64_t known = set->kept[i] ? set->runs[i][set->kept[i] - 1] : after;
            if (n == RUN_LIST_MAX && known >= out[RUN_LIST_MAX - 1]) continue;
            set->kept[i] = cal_next_runs(&set->specs[i], after, set->runs[i]);
            set->ended[i] = set->kept[i] < RUN_LIST_MAX;
            again = 1;
        }
    }
    return n;
}

// Merges the next runs of the first count values of g_calendars after start
// into the job's runs, and gives the window (if any) every run of them in it.
void add_runs(cron_job *job, int count, int64_t start, run_window *window) {
    calendar_set *set = &g_calendars;
    set->count = count;
    for (int i = 0; i < count; i++) set->kept[i] = set->ended[i] = 0;
    int64_t runs[RUN_LIST_MAX];
    const int n = search_calendars(set, start, runs);
    int merged = job->next_count;
    merge_runs(job->next, &merged, runs, n);
    job->next_count = merged;
    window_add_runs(window, job, search_calendars, set, runs, n);
}

// The schedule text: the OnCalendar= values joined with "; ", or else the
// monotonic settings joined with blanks.
void timer_expr(const timer_unit *timer, char *out, size_t cap) {
    out[0] = 0;
    for (int i = 0; i < timer->calendar_count; i++) {
        if (i) str_append(out, cap, "; ");
        str_append(out, cap, timer->calendars[i]);
    }
    if (!timer->calendar_count)
        for (int i = 0; i < timer->monotonic_count; i++) {
            if (i) str_append(out, cap, " ");
            str_append(out, cap, timer->monotonic[i]);
        }
}

// Parses each OnCalendar= value: the first rejected one gives the job's
// error, the others are described (into desc) and timed. The values of a
// timer whose values are all in one named zone are held back, to be timed
// one zone at a time after all timers are read; a timer whose values are in
// more than one zone (the node's among them) has them searched here as one
// schedule, each in its own zone, so that a time two of them name counts
// once however many runs the window holds.
void judge_calendars(cron_job *job, const timer_unit *timer, int64_t start, zoned_values *held,
                     run_window *window, char *desc, size_t cap) {
    cal_spec *specs = g_calendars.specs;
    int parsed[TIMER_CALENDARS];
    int zones = 0;
    const char *first_zone = nullptr;
    for (int i = 0; i < timer->calendar_count; i++) {
        parsed[i] = cal_parse(&specs[i], timer->calendars[i]);
        if (!parsed[i]) continue;
        const char *zone = specs[i].zone;
        if (!first_zone) {
            first_zone = zone;
            zones = 1;
        } else if (zones == 1 && strcmp(first_zone, zone) != 0) {
            zones = 2;
        }
    }
    const int hold = zones == 1 && first_zone[0];
    int timed = 0;
    for (int i = 0; i < timer->calendar_count; i++) {
        const cal_spec &cs = specs[i];
        if (!parsed[i]) {
            if (job->valid) {
                char error[160] = "OnCalendar=";
                str_append(error, sizeof error, timer->calendars[i]);
                str_append(error, sizeof error, ": ");
                str_append(error, sizeof error, cs.error);
                str_set(job->error, error);
            }
            job->valid = 0;
            continue;
        }
        char one[CRON_DESCRIPTION_CAP];
        cal_describe(&cs, one, sizeof one);
        if (desc[0]) {
            str_append(desc, cap, "; ");
            if (one[0] >= 'A' && one[0] <= 'Z') one[0] = (char)(one[0] - 'A' + 'a');
        }
        str_append(desc, cap, one);
        if (hold && held->count < ZONED_CAP) {
            zoned_value *z = &held->values[held->count++];
            z->job = job;
            z->done = 0;
            str_set(z->zone, cs.zone);
            str_set(z->text, timer->calendars[i]);
        } else {
            if (timed != i) specs[timed] = cs;
            timed++;
        }
    }
    if (timed) add_runs(job, timed, start, window);
}

// The unit started and, when its unit file gave one, ": " and its first
// ExecStart= without its prefix characters, specifiers expanded.
void timer_command(const char *service_name, const service_unit *service, char *out, size_t cap) {
    str_copy(out, cap, service_name);
    if (!service || !service->exec_start[0]) return;
    const char *exec = service->exec_start;
    while (*exec && strchr("@-:+!", *exec)) exec++;
    char expanded[1024];
    expand_specifiers(exec, service_name, expanded, sizeof expanded);
    str_append(out, cap, ": ");
    str_append(out, cap, expanded);
}

} // namespace

// The prefix, instance and bare name of unit are worked out once; then in
// one pass every "%x" that names one of them is replaced.
void expand_specifiers(const char *in, const char *unit, char *out, size_t cap) {
    char prefix[PLAT_NAME_CAP], instance[PLAT_NAME_CAP], bare[PLAT_NAME_CAP];
    str_set(bare, unit);
    char *dot = strrchr(bare, '.');
    if (dot) *dot = 0;
    str_set(prefix, bare);
    char *at = strchr(prefix, '@');
    instance[0] = 0;
    if (at) {
        str_set(instance, at + 1);
        *at = 0;
    }
    out[0] = 0;
    // The length so far is kept, so that a long command costs one pass.
    size_t len = 0;
    for (const char *p = in; *p; p++) {
        char one[2] = {*p, 0};
        const char *piece = one;
        if (*p == '%' && p[1]) {
            switch (p[1]) {
            case 'i':
            case 'I':
                piece = instance;
                break;
            case 'n':
                piece = unit;
                break;
            case 'N':
                piece = bare;
                break;
            case 'p':
            case 'P':
                piece = prefix;
                break;
            case '%':
                piece = "%";
                break;
            default:
                piece = nullptr;
                break;
            }
            if (piece)
                p++;
            else
                piece = one;
        }
        const size_t n = strlen(piece);
        if (str_copy_span(out + len, cap - len, piece, n)) return;
        len += n;
    }
}

// A sum of numbers, each with an optional unit of systemd's table.
int64_t span_seconds(const char *text) {
    struct unit_size {
        const char *name;
        double seconds;
    };
    static const unit_size k_units[] = {
        {"usec", 1e-6},      {"us", 1e-6},        {"msec", 1e-3},     {"ms", 1e-3},
        {"seconds", 1},      {"second", 1},       {"sec", 1},         {"s", 1},
        {"minutes", 60},     {"minute", 60},      {"min", 60},        {"hours", 3600},
        {"hour", 3600},      {"hr", 3600},        {"h", 3600},        {"days", 86400},
        {"day", 86400},      {"d", 86400},        {"weeks", 604800},  {"week", 604800},
        {"w", 604800},       {"months", 2629800}, {"month", 2629800}, {"M", 2629800},
        {"years", 31557600}, {"year", 31557600},  {"y", 31557600},    {"m", 60},
    };
    double total = 0;
    const char *p = text;
    int parts = 0;
    while (*p) {
        while (*p == ' ') p++;
        if (!*p) break;
        if (!(*p >= '0' && *p <= '9') && *p != '.') return -1;
        double v = 0, scale = 0;
        for (; (*p >= '0' && *p <= '9') || *p == '.'; p++) {
            if (*p == '.') {
                if (scale) return -1;
                scale = 1;
            } else if (scale) {
                scale /= 10;
                v += (*p - '0') * scale;
            } else {
                v = v * 10 + (*p - '0');
            }
            if (v > 1e12) return -1;
        }
        while (*p == ' ') p++;
        double size = 1;
        if (*p && !(*p >= '0' && *p <= '9')) {
            // A unit is the whole run of letters that follows: "min" is no
            // "m" followed by "in".
            size_t word = 0;
            while ((p[word] >= 'a' && p[word] <= 'z') || (p[word] >= 'A' && p[word] <= 'Z')) word++;
            const unit_size *hit = nullptr;
            for (const unit_size &u : k_units)
                if (word && strncmp(p, u.name, word) == 0 && !u.name[word]) hit = &u;
            if (!hit) return -1;
            size = hit->seconds;
            p += word;
        }
        total += v * size;
        parts++;
    }
    if (!parts || total > 1e12) return -1;
    return (int64_t)total;
}

// The schedule text first, then the calendars judged and timed, the
// monotonic settings, the delay and Persistent= described, and the command.
void timer_fill_job(cron_job *job, const timer_unit *timer, const char *service_name,
                    const service_unit *service, int64_t start, zoned_values *held,
                    run_window *window) {
    str_set(job->source, "systemd");
    str_set(job->kind, "timer");
    char text[1024];
    timer_expr(timer, text, sizeof text);
    str_set(job->expr, text);

    job->valid = 1;
    char desc[1024] = "";
    judge_calendars(job, timer, start, held, window, desc, sizeof desc);
    if (timer->monotonic_count) {
        if (desc[0]) str_append(desc, sizeof desc, "; ");
        describe_monotonic(timer, desc, sizeof desc);
    }
    if (!timer->calendar_count && !timer->monotonic_count) {
        job->valid = 0;
        str_set(job->error, "no OnCalendar= or On...Sec= setting");
    }
    describe_delay(timer->randomized_delay, desc, sizeof desc);
    if (timer->persistent && timer->calendar_count)
        str_append(desc, sizeof desc, ", catches up after downtime");
    str_set(job->description, desc);

    timer_command(service_name, service, text, sizeof text);
    str_set(job->command, text);
    str_set(job->user, service && service->user[0] ? service->user : "root");
}

// One zone at a time: the first value not yet done names the zone, and every
// value of that zone is timed while it is pushed.
void timer_add_zoned_runs(zoned_values *held, int64_t start, run_window *window) {
    for (int i = 0; i < held->count; i++) {
        if (held->values[i].done) continue;
        const char *zone = held->values[i].zone;
        // Held within the zone: each value's own switch then costs nothing.
        const int pushed = plat_zone_push(zone);
        for (int k = i; k < held->count; k++) {
            zoned_value *z = &held->values[k];
            if (z->done || strcmp(z->zone, zone) != 0) continue;
            // The job's values in this zone as one schedule, as above.
            int count = 0;
            for (int m = k; m < held->count; m++) {
                zoned_value *same = &held->values[m];
                if (same->done || same->job != z->job || strcmp(same->zone, zone) != 0) continue;
                same->done = 1;
                if (count < TIMER_CALENDARS && cal_parse(&g_calendars.specs[count], same->text))
                    count++;
            }
            if (count) add_runs(z->job, count, start, window);
        }
        if (pushed) plat_zone_pop();
    }
    held->count = 0;
}
