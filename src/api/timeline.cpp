#include "api/timeline.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "api/api.h"
#include "jobs/jobs.h"
#include "jobs/sources.h"
#include "jobs/timeline.h"
#include "util/platform.h"
#include "util/query.h"

namespace {

enum { BUSIEST_MAX = 10 };

run_window g_window;
uint16_t g_minute_jobs[TIMELINE_MINUTES];

// No further runs: a reader that knows only a job's next runs (the task
// list) gives those.
int search_none(const void *, int64_t, int64_t *) {
    return 0;
}

// The node's offset from UTC at t, or fallback where t cannot be converted.
int32_t offset_or(int64_t t, int32_t fallback) {
    int32_t off;
    return plat_utc_offset(t, &off) ? off : fallback;
}

// The node's offset from UTC (seconds east) over the window: from its start,
// and from each second of it where the clock changes, as seconds after
// from_utc, so that a reader can show any time of the window on the node's
// clock. Offsets are probed every half hour, and a change found is placed
// to the second between the two probes.
void write_offsets(const run_window *w) {
    int32_t last = offset_or(w->from, 0);
    printf("[{\"at\":0,\"offset\":%d}", (int)last);
    for (int64_t before = w->from; before < w->to - 1;) {
        const int64_t probe = before + 1800 < w->to - 1 ? before + 1800 : w->to - 1;
        const int32_t off = offset_or(probe, last);
        if (off != last) {
            int64_t lo = before, hi = probe; // lo still has the old offset, hi the new
            while (hi - lo > 1) {
                const int64_t mid = lo + (hi - lo) / 2;
                (offset_or(mid, last) == last ? lo : hi) = mid;
            }
            printf(",{\"at\":%lld,\"offset\":%d}", (long long)(hi - w->from), (int)off);
            last = off;
        }
        before = probe;
    }
    putchar(']');
}

// How many jobs start in each clock minute of the window, from the lanes of
// the jobs that run (a job refused after it was timed has no next runs).
void count_minutes(void) {
    memset(g_minute_jobs, 0, sizeof g_minute_jobs);
    for (int i = 0; i < g_job_count; i++) {
        if (!g_jobs[i].next_count) continue;
        window_count_minutes(&g_window, i, g_minute_jobs);
    }
}

// The stamps and distance of t.
void write_time(int64_t t, int64_t now) {
    char stamp[40];
    utc_stamp(t, stamp);
    fputs("\"utc\":", stdout);
    json_str(stamp);
    local_stamp(t, stamp);
    fputs(",\"local\":", stdout);
    json_str(stamp);
    fputs(",\"in_seconds\":", stdout);
    json_int(t - now);
}

// The BUSIEST_MAX minutes most jobs start in, most first, earlier first
// among equals; a minute that no job starts in is never listed.
void write_busiest(int64_t now) {
    count_minutes();
    const int64_t base = window_first_minute(&g_window);
    fputs("],\"busiest\":[", stdout);
    int written = 0, last_count = 0x7fffffff, last_minute = -1;
    while (written < BUSIEST_MAX) {
        int best = -1;
        for (int m = 0; m < TIMELINE_MINUTES; m++) {
            const int c = g_minute_jobs[m];
            if (!c || c > last_count || (c == last_count && m <= last_minute)) continue;
            if (best < 0 || c > g_minute_jobs[best]) best = m;
        }
        if (best < 0) break;
        last_count = g_minute_jobs[best];
        last_minute = best;
        fputs(written++ ? ",{" : "{", stdout);
        write_time(base + (int64_t)best * 60, now);
        fputs(",\"jobs\":", stdout);
        json_int(last_count);
        putchar('}');
    }
    putchar(']');
}

// One job of the answer: who and what, then its run times as seconds from
// now, or with more than TIMELINE_EXACT_MAX runs its counts per bucket.
void write_lane(int i, int buckets, int64_t now) {
    const cron_job &j = g_jobs[i];
    const timeline_lane &lane = g_window.lanes[i];
    const int total = j.next_count ? lane.total : 0;
    fputs(i ? ",{\"index\":" : "{\"index\":", stdout);
    json_int(i);
    putchar(',');
    write_job_fields(&j);
    fputs(",\"total\":", stdout);
    json_int(total);
    // The numbers go out in one piece: a write each costs more than they do.
    char list[TIMELINE_MAX_HOURS * 22 + 16], *p = list;
    if (total > TIMELINE_EXACT_MAX) {
        p = (char *)memcpy(p, ",\"counts\":[", 11) + 11;
        for (int b = 0; b < buckets; b++) {
            if (b) *p++ = ',';
            p = json_format_int(p, lane.counts[b]);
        }
    } else {
        p = (char *)memcpy(p, ",\"runs\":[", 9) + 9;
        for (int k = 0; k < total; k++) {
            if (k) *p++ = ',';
            p = json_format_int(p, lane.exact[k] - now);
        }
    }
    *p++ = ']';
    *p++ = '}';
    fwrite(list, 1, (size_t)(p - list), stdout);
}

} // namespace

int timeline_hours(const char *query) {
    char text[16];
    get_query_val(query, "hours", text, sizeof text);
    if (!text[0]) return TIMELINE_DEFAULT_HOURS;
    int hours = 0;
    for (const char *p = text; *p; p++) {
        if (*p < '0' || *p > '9') return TIMELINE_DEFAULT_HOURS;
        if (hours < 10000) hours = hours * 10 + (*p - '0');
    }
    if (hours < 1) return 1;
    return hours > TIMELINE_MAX_HOURS ? TIMELINE_MAX_HOURS : hours;
}

// The table read with the window, the jobs that only know their next runs
// given those, then the answer streamed: header fields, jobs, busiest.
void timeline_answer(const char *query, int64_t now) {
    const int hours = timeline_hours(query);
    const char *file = getenv("CRONTAB_FILE");
    const int64_t start = (int64_t)time(nullptr);
    window_reset(&g_window, start, hours);
    jobs_reset();
    read_job_sources(file, start, &g_window);
    for (int i = 0; i < g_job_count; i++)
        if (!g_window.lanes[i].filled)
            window_add_runs(&g_window, &g_jobs[i], search_none, nullptr, g_jobs[i].next,
                            g_jobs[i].next_count);
    if (g_job_count >= 32) plat_stdout_expect_long();
    char stamp[40];
    fputs("{\"ok\":true,\"action\":\"timeline\",\"now_utc\":", stdout);
    utc_stamp(now, stamp);
    json_str(stamp);
    fputs(",\"now_local\":", stdout);
    local_stamp(now, stamp);
    json_str(stamp);
    fputs(",\"hours\":", stdout);
    json_int(hours);
    fputs(",\"from_utc\":", stdout);
    utc_stamp(g_window.from, stamp);
    json_str(stamp);
    fputs(",\"to_utc\":", stdout);
    utc_stamp(g_window.to, stamp);
    json_str(stamp);
    fputs(",\"node_offsets\":", stdout);
    write_offsets(&g_window);
    printf(",\"bucket_seconds\":%d,\"threshold\":%d,\"count\":%d,\"truncated\":%s,\"sources\":[",
           (int)TIMELINE_BUCKET_SECONDS, (int)TIMELINE_EXACT_MAX, (int)g_job_count,
           g_truncated ? "true" : "false");
    for (int i = 0; i < g_source_count; i++) {
        if (i) putchar(',');
        json_str(g_sources[i]);
    }
    fputs("],\"jobs\":[", stdout);
    for (int i = 0; i < g_job_count; i++) write_lane(i, hours, now);
    write_busiest(now);
    fputs("}\n", stdout);
}
