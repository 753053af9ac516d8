#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "jobs/jobs.h"
#include "jobs/timeline.h"

namespace {

constexpr int64_t k_now = 1794458190; // 2026-11-12 04:36:30 UTC

run_window g_test_window;

// A stand-in search: every step seconds from first, up to last.
struct stepped {
    int64_t first, step, last;
    int calls;
};

int search_stepped(const void *schedule, int64_t after, int64_t out[RUN_LIST_MAX]) {
    stepped *s = (stepped *)schedule;
    s->calls++;
    int n = 0;
    int64_t t =
        after < s->first ? s->first : s->first + ((after - s->first) / s->step + 1) * s->step;
    for (; n < RUN_LIST_MAX && t <= s->last; t += s->step) out[n++] = t;
    return n;
}

} // namespace

TEST(Timeline, RunsCountsAndMinutesOfOneSchedule) {
    struct window_case {
        const char *name;
        int hours;
        int64_t first, step, last;
        int total;
        int exact;
    } cases[] = {
        {"hourly over a day", 24, k_now + 90, 3600, k_now + 999999, 24, 24},
        {"every five minutes", 24, k_now + 30, 300, k_now + 999999, 288, TIMELINE_EXACT_MAX},
        {"ends inside the window", 24, k_now + 60, 600, k_now + 3000, 5, 5},
        {"first run beyond the window", 1, k_now + 7200, 60, k_now + 9999, 0, 0},
        {"every ten seconds over a week", 168, k_now + 10, 10, k_now + 9999999, 60479,
         TIMELINE_EXACT_MAX},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        jobs_reset();
        cron_job *job = add_job();
        window_reset(&g_test_window, k_now, c.hours);
        stepped s = {c.first, c.step, c.last, 0};
        int64_t first[RUN_LIST_MAX];
        const int n = search_stepped(&s, k_now, first);
        window_add_runs(&g_test_window, job, search_stepped, &s, first, n);
        const timeline_lane &lane = g_test_window.lanes[0];
        EXPECT_EQ(lane.filled, 1);
        EXPECT_EQ(lane.total, c.total);
        EXPECT_EQ(lane.exact_count, c.exact);
        for (int k = 0; k < lane.exact_count; k++) EXPECT_EQ(lane.exact[k], c.first + k * c.step);
        int sum = 0, minutes = 0;
        for (int b = 0; b < TIMELINE_MAX_HOURS; b++) sum += lane.counts[b];
        uint8_t bits[TIMELINE_MINUTE_BYTES];
        window_lane_minutes(&g_test_window, 0, bits);
        for (unsigned char byte : bits)
            for (int k = 0; k < 8; k++) minutes += byte >> k & 1;
        EXPECT_EQ(sum, c.total);
        // Each clock minute with a run once, however many runs it holds.
        int expected_minutes = 0;
        int64_t last_minute = -1;
        for (int64_t t = c.first; t <= c.last && t < k_now + c.hours * 3600; t += c.step)
            if (t / 60 != last_minute) {
                expected_minutes++;
                last_minute = t / 60;
            }
        EXPECT_EQ(minutes, expected_minutes);
        // No search past the window's end, none after a short batch.
        EXPECT_LE(s.calls, 2 + c.total / RUN_LIST_MAX);
    }
}

TEST(Timeline, TwoSchedulesOfOneJobMergeAndNoWindowDoesNothing) {
    jobs_reset();
    cron_job *job = add_job();
    cron_job *copy = add_job();
    window_reset(&g_test_window, k_now, 24);
    // Every 2 hours and every 3 hours: the common runs once, ascending.
    for (int64_t step : {7200, 10800}) {
        stepped s = {k_now + 100, step, k_now + 86400, 0};
        int64_t first[RUN_LIST_MAX];
        const int n = search_stepped(&s, k_now, first);
        window_add_runs(&g_test_window, job, search_stepped, &s, first, n);
        window_add_runs(nullptr, job, search_stepped, &s, first, n);
    }
    const timeline_lane &lane = g_test_window.lanes[0];
    std::vector<int64_t> expected;
    for (int64_t t = k_now + 100; t < k_now + 86400; t += 3600)
        if ((t - k_now - 100) % 7200 == 0 || (t - k_now - 100) % 10800 == 0) expected.push_back(t);
    EXPECT_EQ(std::vector<int64_t>(lane.exact, lane.exact + lane.exact_count), expected);
    EXPECT_EQ(lane.total, (int)expected.size());
    window_copy_lane(&g_test_window, job, copy);
    EXPECT_EQ(g_test_window.lanes[1].total, lane.total);
    EXPECT_EQ(g_test_window.lanes[1].exact[3], lane.exact[3]);
}

// Two searches of one job, the second's runs between the first's: the lane
// outgrows its exact runs during the first, and every run's minute is kept,
// the ones the second adds before the first's last among them.
TEST(Timeline, MinutesOfALaneThatOutgrowsItsExactRunsAreAllKept) {
    jobs_reset();
    cron_job *job = add_job();
    cron_job *sparse = add_job();
    window_reset(&g_test_window, k_now, 24);
    for (int64_t first_run : {k_now + 100, k_now + 400}) {
        stepped s = {first_run, 600, k_now + 86400, 0};
        int64_t first[RUN_LIST_MAX];
        const int n = search_stepped(&s, k_now, first);
        window_add_runs(&g_test_window, job, search_stepped, &s, first, n);
    }
    stepped daily = {k_now + 100, 86400, k_now + 86400, 0};
    int64_t first[RUN_LIST_MAX];
    window_add_runs(&g_test_window, sparse, search_stepped, &daily, first,
                    search_stepped(&daily, k_now, first));
    EXPECT_EQ(g_test_window.lanes[0].total, 288);
    EXPECT_EQ(g_test_window.minute_sets_used, 1); // the sparse lane needs none
    uint8_t bits[TIMELINE_MINUTE_BYTES];
    const int64_t base = window_first_minute(&g_test_window);
    for (int lane = 0; lane < 2; lane++) {
        window_lane_minutes(&g_test_window, lane, bits);
        std::vector<int64_t> starts;
        for (int m = 0; m < TIMELINE_MINUTES; m++)
            if (bits[m / 8] >> (m % 8) & 1) starts.push_back(base + m * 60);
        std::vector<int64_t> expected;
        for (int64_t t = k_now + 100; t < k_now + 86400; t += lane ? 86400 : 300)
            expected.push_back(t - (t - base) % 60);
        EXPECT_EQ(starts, expected) << lane;
    }
}

TEST(Timeline, FirstMinuteIsTheClockMinuteTheWindowStartsIn) {
    window_reset(&g_test_window, k_now, 1);
    EXPECT_EQ(window_first_minute(&g_test_window), k_now - 30);
    EXPECT_EQ(g_test_window.to, k_now + 3600);
    window_reset(&g_test_window, -90, 1);
    EXPECT_EQ(window_first_minute(&g_test_window), -120);
}
