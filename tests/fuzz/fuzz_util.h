// Shared checks of the fuzz targets. A failed check aborts, which libFuzzer
// reports as a crash with the input that caused it.
#pragma once
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <time.h>

#include "cron/cron.h"
#include "jobs/jobs.h"
#include "jobs/timeline.h"

#define FUZZ_CHECK(cond)                                                                           \
    do {                                                                                           \
        if (!(cond)) {                                                                             \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond);               \
            abort();                                                                               \
        }                                                                                          \
    } while (0)

// The input bytes as a C string: everything before the first zero byte.
inline std::string c_text(const uint8_t *data, size_t size) {
    return std::string((const char *)data, strnlen((const char *)data, size));
}

// True when buf holds a terminated text within its capacity.
inline bool terminated(const char *buf, size_t cap) {
    return strnlen(buf, cap) < cap;
}

// Runs f with stdout sent to memory and returns what it wrote.
template <class F> std::string capture_stdout(F f) {
    char *mem = nullptr;
    size_t len = 0;
    FILE *m = open_memstream(&mem, &len);
    FILE *saved = stdout;
    stdout = m;
    f();
    fflush(m);
    stdout = saved;
    fclose(m);
    std::string out(mem, len);
    free(mem);
    return out;
}

inline bool is_parser_error(const char *text) {
    static const char *const k_errors[] = {
        "empty expression",       "unknown @keyword",
        "expected 5 fields",      "too many fields",
        "bad minute field",       "minute out of range 0-59",
        "bad hour field",         "hour out of range 0-23",
        "bad day-of-month field", "day-of-month out of range 1-31",
        "bad month field",        "month out of range 1-12",
        "bad day-of-week field",  "day-of-week out of range 0-7",
        "expression too long",
    };
    for (const char *e : k_errors)
        if (strcmp(text, e) == 0) return true;
    return false;
}

// Strict UTF-8: no stray or missing continuation byte, no overlong form, no
// surrogate, nothing above U+10FFFF.
inline bool valid_utf8(const std::string &s) {
    size_t i = 0;
    while (i < s.size()) {
        unsigned char c = (unsigned char)s[i];
        int n;
        uint32_t cp;
        if (c < 0x80) {
            i++;
            continue;
        } else if (c >= 0xc2 && c <= 0xdf) {
            n = 1, cp = c & 0x1f;
        } else if (c >= 0xe0 && c <= 0xef) {
            n = 2, cp = c & 0x0f;
        } else if (c >= 0xf0 && c <= 0xf4) {
            n = 3, cp = c & 0x07;
        } else {
            return false;
        }
        if (i + n >= s.size()) return false;
        for (int k = 1; k <= n; k++) {
            unsigned char cc = (unsigned char)s[i + k];
            if ((cc & 0xc0) != 0x80) return false;
            cp = cp << 6 | (cc & 0x3f);
        }
        if ((n == 2 && cp < 0x800) || (n == 3 && (cp < 0x10000 || cp > 0x10ffff)) ||
            (cp >= 0xd800 && cp <= 0xdfff))
            return false;
        i += n + 1;
    }
    return true;
}

// True when what a display copy holds is a prefix of the text it was taken
// from, cut at most a partial character (3 bytes) short of its capacity.
inline bool display_copy_of(const char *copy, size_t cap, const std::string &text) {
    size_t n = strlen(copy);
    if (text.compare(0, n, copy) != 0) return false;
    if (text.size() < cap) return n == text.size();
    return n + 3 >= cap - 1;
}

inline bool any_set(const unsigned char *t, int from, int to) {
    for (int i = from; i <= to; i++)
        if (t[i]) return true;
    return false;
}

inline bool all_set(const unsigned char *t, int from, int to) {
    for (int i = from; i <= to; i++)
        if (!t[i]) return false;
    return true;
}

// The record invariants that hold after every cron_parse.
inline void check_expr(const cron_expr &ce, int rc) {
    FUZZ_CHECK(rc == 0 || rc == 1);
    FUZZ_CHECK(ce.valid == rc);
    FUZZ_CHECK(terminated(ce.error, sizeof ce.error));
    FUZZ_CHECK(terminated(ce.expr, sizeof ce.expr));
    FUZZ_CHECK(terminated(ce.keyword, sizeof ce.keyword));
    for (const auto &f : ce.field_text) FUZZ_CHECK(terminated(f, sizeof f));
    FUZZ_CHECK(terminated(ce.description, sizeof ce.description));
    if (!ce.valid) {
        FUZZ_CHECK(is_parser_error(ce.error));
        FUZZ_CHECK(ce.description[0] == 0);
        return;
    }
    FUZZ_CHECK(ce.error[0] == 0);
    FUZZ_CHECK(ce.description[0] != 0);
    FUZZ_CHECK(!(ce.keyword[0] && ce.field_text[0][0]));
    const unsigned char *tables[5] = {ce.minutes, ce.hours, ce.days_of_month, ce.months,
                                      ce.days_of_week};
    const size_t sizes[5] = {60, 24, 32, 13, 7};
    for (int i = 0; i < 5; i++)
        for (size_t k = 0; k < sizes[i]; k++) FUZZ_CHECK(tables[i][k] <= 1);
    FUZZ_CHECK(any_set(ce.minutes, 0, 59));
    FUZZ_CHECK(any_set(ce.hours, 0, 23));
    FUZZ_CHECK(any_set(ce.days_of_month, 1, 31));
    FUZZ_CHECK(any_set(ce.months, 1, 12));
    FUZZ_CHECK(any_set(ce.days_of_week, 0, 6));
    FUZZ_CHECK(ce.dom_restricted == !all_set(ce.days_of_month, 1, 31));
    FUZZ_CHECK(ce.dow_restricted == !all_set(ce.days_of_week, 0, 6));
    FUZZ_CHECK(ce.boot_only == (strcmp(ce.keyword, "@reboot") == 0));
}

inline int64_t floor_mod(int64_t a, int64_t b) {
    int64_t m = a % b;
    return m < 0 ? m + b : m;
}

// Checks a run list against its record: at most five whole minutes, strictly
// after now, ascending, within the 7305-day horizon, each one a match.
inline void check_runs(const cron_expr &ce, int64_t now, const int64_t *runs, int n) {
    FUZZ_CHECK(n >= 0 && n <= CRON_MAX_RUNS);
    if (!ce.valid || ce.boot_only) FUZZ_CHECK(n == 0);
    for (int i = 0; i < n; i++) {
        int64_t t = runs[i];
        FUZZ_CHECK(t > now);
        FUZZ_CHECK(i == 0 || t > runs[i - 1]);
        FUZZ_CHECK(floor_mod(t, 60) == 0);
        FUZZ_CHECK(t - now <= 7306LL * 86400);
        // The C library's calendar, as an independent reference.
        time_t tt = (time_t)t;
        struct tm tm;
        if (!gmtime_r(&tt, &tm)) continue;
        FUZZ_CHECK(ce.minutes[tm.tm_min] && ce.hours[tm.tm_hour] && ce.months[tm.tm_mon + 1]);
        int dom = ce.days_of_month[tm.tm_mday], dow = ce.days_of_week[tm.tm_wday];
        if (ce.dom_restricted && ce.dow_restricted)
            FUZZ_CHECK(dom || dow);
        else if (ce.dom_restricted)
            FUZZ_CHECK(dom);
        else if (ce.dow_restricted)
            FUZZ_CHECK(dow);
    }
}

// A timeline window of 1 to 24 hours from start, its length chosen by byte.
inline run_window *fuzz_window(int64_t start, uint8_t byte) {
    static run_window w;
    window_reset(&w, start, 1 + byte % 24);
    return &w;
}

// The window's lane of job (a record of the job table): its counts add up to
// its total, its exact runs are the first of them, ascending, inside the
// window, and begin with the job's own next runs that fall in it.
inline void check_lane(const run_window *w, const cron_job *job) {
    const timeline_lane *lane = &w->lanes[job - g_jobs];
    if (!lane->filled) {
        FUZZ_CHECK(lane->total == 0 && lane->exact_count == 0);
        return;
    }
    FUZZ_CHECK(lane->exact_count ==
               (lane->total < TIMELINE_EXACT_MAX ? lane->total : TIMELINE_EXACT_MAX));
    long long sum = 0;
    for (uint16_t c : lane->counts) sum += c;
    FUZZ_CHECK(sum == lane->total);
    int minutes = 0;
    uint8_t bits[TIMELINE_MINUTE_BYTES];
    window_lane_minutes(w, (int)(job - g_jobs), bits);
    for (uint8_t b : bits) minutes += __builtin_popcount(b);
    FUZZ_CHECK(minutes <= lane->total && (minutes > 0) == (lane->total > 0));
    for (int i = 0; i < lane->exact_count; i++) {
        FUZZ_CHECK(lane->exact[i] > w->from && lane->exact[i] < w->to);
        FUZZ_CHECK(i == 0 || lane->exact[i - 1] < lane->exact[i]);
    }
    for (int i = 0; i < job->next_count && job->next[i] < w->to; i++)
        FUZZ_CHECK(i < lane->exact_count && lane->exact[i] == job->next[i]);
}
