// The timeline window: every run of every job from the jobs' search start
// over a number of hours, kept beside the job table. The readers that time a
// schedule hand their five runs and the search that found them to
// window_add_runs, which continues the same search to the window's end.
#pragma once
#include <stdint.h>

#include "jobs/jobs.h"

enum {
    TIMELINE_DEFAULT_HOURS = 24,
    TIMELINE_MAX_HOURS = 168,
    TIMELINE_BUCKET_SECONDS = 3600,
    // A job with more runs than this in the window is given as counts per
    // bucket, not as run times.
    TIMELINE_EXACT_MAX = 48,
    // Clock minutes the longest window touches, the one it starts in first.
    TIMELINE_MINUTES = TIMELINE_MAX_HOURS * 60 + 1,
    TIMELINE_MINUTE_BYTES = (TIMELINE_MINUTES + 7) / 8,
};

// One job's runs in the window: the first TIMELINE_EXACT_MAX exactly and
// every one counted per bucket. The minutes it starts in are its exact runs'
// while it has no more; a lane that has more gets a bit set of its own.
struct timeline_lane {
    int32_t filled; // a reader searched this job's schedule
    int32_t total;
    int32_t exact_count;
    int32_t minute_set; // 1 + its index in run_window::minute_sets, or 0
    int64_t exact[TIMELINE_EXACT_MAX];
    uint16_t counts[TIMELINE_MAX_HOURS];
};

// The window [from, to), one lane per record of the job table, and the bit
// sets of the lanes that outgrow their exact runs (from window_first_minute),
// taken in turn; only those are ever written, so a window of few frequent
// jobs stays small in memory.
struct run_window {
    int64_t from;
    int64_t to;
    int32_t minute_sets_used;
    timeline_lane lanes[JOB_CAPACITY];
    uint8_t minute_sets[JOB_CAPACITY][TIMELINE_MINUTE_BYTES];
};

// A run search as src/cron has them: up to five runs strictly after after,
// ascending; returns the count.
typedef int (*run_search)(const void *schedule, int64_t after, int64_t out[RUN_LIST_MAX]);

// The clock minute (a multiple of 60) that the window starts in.
int64_t window_first_minute(const run_window *window);

// Empties window and sets it to the hours (1..TIMELINE_MAX_HOURS) after from.
void window_reset(run_window *window, int64_t from, int hours);

// Adds the count runs in first (the ascending result of search from the
// window's start) to job's lane, then calls search again from the last run
// found while runs come back before the window's end. A run already in the
// lane's exact list is not added twice. With no window, does nothing.
void window_add_runs(run_window *window, const cron_job *job, run_search search,
                     const void *schedule, const int64_t *first, int count);

// Writes the clock minutes that the lane of job index i starts in (bit m for
// the minute m minutes after window_first_minute) into bits.
void window_lane_minutes(const run_window *window, int i, uint8_t bits[TIMELINE_MINUTE_BYTES]);

// Adds one to per_minute[m] for each clock minute m that the lane of job
// index i starts in, as window_lane_minutes gives them.
void window_count_minutes(const run_window *window, int i, uint16_t per_minute[TIMELINE_MINUTES]);

// Gives job the lane of from (a copy of from's record): same runs, and the
// same bit set, which neither changes afterwards.
void window_copy_lane(run_window *window, const cron_job *from, const cron_job *job);
