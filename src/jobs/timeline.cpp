#include "jobs/timeline.h"

#include <bit>
#include <stddef.h>
#include <string.h>

namespace {

// Inserts t into the lane's ascending exact list, keeping its first
// TIMELINE_EXACT_MAX times. Returns 0 when t is there already, else 1.
int insert_exact(timeline_lane *lane, int64_t t) {
    int i = lane->exact_count;
    while (i > 0 && lane->exact[i - 1] > t) i--;
    if (i > 0 && lane->exact[i - 1] == t) return 0;
    if (i == TIMELINE_EXACT_MAX) return 1; // later than every time kept
    int n = lane->exact_count < TIMELINE_EXACT_MAX ? lane->exact_count : TIMELINE_EXACT_MAX - 1;
    memmove(lane->exact + i + 1, lane->exact + i, (size_t)(n - i) * sizeof lane->exact[0]);
    lane->exact[i] = t;
    if (lane->exact_count < TIMELINE_EXACT_MAX) lane->exact_count++;
    return 1;
}

// Sets the bit of t's clock minute (t inside the window) in bits.
void set_minute(const run_window *window, uint8_t *bits, int64_t t) {
    const int64_t minute = (t - window_first_minute(window)) / 60;
    bits[minute / 8] |= (uint8_t)(1u << (minute % 8));
}

// Counts one run of the lane at t (inside the window): its bucket, and its
// minute once the exact runs no longer hold them all. Up to then every run is
// an exact one.
void add_run(run_window *window, timeline_lane *lane, int64_t t) {
    if (!insert_exact(lane, t)) return;
    lane->total++;
    lane->counts[(t - window->from) / TIMELINE_BUCKET_SECONDS]++;
    if (!lane->minute_set && lane->total > TIMELINE_EXACT_MAX) {
        uint8_t *bits = window->minute_sets[window->minute_sets_used++];
        memset(bits, 0, TIMELINE_MINUTE_BYTES);
        lane->minute_set = window->minute_sets_used;
        for (int i = 0; i < lane->exact_count; i++) set_minute(window, bits, lane->exact[i]);
    }
    if (lane->minute_set) set_minute(window, window->minute_sets[lane->minute_set - 1], t);
}

} // namespace

int64_t window_first_minute(const run_window *window) {
    const int64_t r = window->from % 60;
    return window->from - (r < 0 ? r + 60 : r);
}

void window_reset(run_window *window, int64_t from, int hours) {
    // The bit sets are cleared as they are taken.
    memset(window, 0, offsetof(run_window, minute_sets));
    window->from = from;
    window->to = from + (int64_t)hours * 3600;
}

// Each batch starts after the last run of the one before, so the runs are the
// search's own, in order; a batch shorter than five ends the schedule.
void window_add_runs(run_window *window, const cron_job *job, run_search search,
                     const void *schedule, const int64_t *first, int count) {
    if (!window || job < g_jobs || job >= g_jobs + JOB_CAPACITY) return;
    timeline_lane *lane = &window->lanes[job - g_jobs];
    lane->filled = 1;
    int64_t batch[RUN_LIST_MAX];
    for (int i = 0; i < count; i++) batch[i] = first[i];
    while (count > 0) {
        for (int i = 0; i < count; i++) {
            if (batch[i] <= window->from) continue;
            if (batch[i] >= window->to) return;
            add_run(window, lane, batch[i]);
        }
        if (count < RUN_LIST_MAX) return;
        count = search(schedule, batch[count - 1], batch);
    }
}

void window_lane_minutes(const run_window *window, int i, uint8_t bits[TIMELINE_MINUTE_BYTES]) {
    const timeline_lane *lane = &window->lanes[i];
    if (lane->minute_set) {
        memcpy(bits, window->minute_sets[lane->minute_set - 1], TIMELINE_MINUTE_BYTES);
        return;
    }
    memset(bits, 0, TIMELINE_MINUTE_BYTES);
    for (int k = 0; k < lane->exact_count; k++) set_minute(window, bits, lane->exact[k]);
}

void window_count_minutes(const run_window *window, int i, uint16_t per_minute[TIMELINE_MINUTES]) {
    const timeline_lane *lane = &window->lanes[i];
    if (!lane->minute_set) {
        const int64_t base = window_first_minute(window);
        int64_t last = -1;
        for (int k = 0; k < lane->exact_count; k++) {
            const int64_t minute = (lane->exact[k] - base) / 60;
            if (minute != last) per_minute[minute]++;
            last = minute;
        }
        return;
    }
    const uint8_t *bits = window->minute_sets[lane->minute_set - 1];
    for (int b = 0; b < TIMELINE_MINUTE_BYTES; b++)
        for (unsigned x = bits[b]; x; x &= x - 1) {
            const int m = b * 8 + std::countr_zero(x);
            if (m < TIMELINE_MINUTES) per_minute[m]++;
        }
}

void window_copy_lane(run_window *window, const cron_job *from, const cron_job *job) {
    if (!window || from < g_jobs || from >= g_jobs + JOB_CAPACITY || job < g_jobs ||
        job >= g_jobs + JOB_CAPACITY)
        return;
    window->lanes[job - g_jobs] = window->lanes[from - g_jobs];
}
