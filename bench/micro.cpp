// Micro-benchmarks of the cron engine and of the whole jobs answer. The jobs
// benchmarks read the fixtures that bench/make_fixtures writes into the
// directory named by ZV_BENCH_DATA.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string>
#include <unistd.h>

#include "api/api.h"
#include "cron/cron.h"
#include "jobs/jobs.h"

namespace {

constexpr int64_t k_now = 1794458190; // 2026-11-12 04:36:30 UTC

const char k_typical[] = "*/15 9-17 * * 1-5";
const char k_never[] = "0 0 30 2 *";

void BM_cron_parse(benchmark::State &state) {
    cron_expr ce;
    for (auto _ : state) {
        benchmark::DoNotOptimize(cron_parse(&ce, k_typical));
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_cron_parse);

void BM_cron_describe(benchmark::State &state) {
    cron_expr ce;
    cron_parse(&ce, k_typical);
    char out[CRON_DESCRIPTION_CAP];
    for (auto _ : state) {
        cron_describe(&ce, out);
        benchmark::DoNotOptimize(out);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_cron_describe);

void next_runs(benchmark::State &state, const char *expr) {
    cron_expr ce;
    cron_parse(&ce, expr);
    int64_t out[CRON_MAX_RUNS];
    for (auto _ : state) {
        benchmark::DoNotOptimize(cron_next_runs(&ce, k_now, out));
        benchmark::ClobberMemory();
    }
}
BENCHMARK_CAPTURE(next_runs, typical, k_typical);
BENCHMARK_CAPTURE(next_runs, never_fires, k_never);

// Reads a fixture into the job table and writes the whole answer; stdout
// points at /dev/null meanwhile, and each answer is flushed so that its
// writing is paid for in the iteration that made it.
void jobs_answer(benchmark::State &state, const char *name) {
    const char *dir = getenv("ZV_BENCH_DATA");
    if (!dir) {
        state.SkipWithError("ZV_BENCH_DATA is not set");
        return;
    }
    std::string path = std::string(dir) + "/" + name;
    if (access(path.c_str(), R_OK) != 0) {
        state.SkipWithError("fixture missing");
        return;
    }
    fflush(stdout);
    int saved = dup(1);
    int null_fd = open("/dev/null", O_WRONLY);
    dup2(null_fd, 1);
    for (auto _ : state) {
        jobs_reset();
        read_fixture_file(path.c_str(), k_now);
        write_jobs_answer(k_now);
        fflush(stdout);
    }
    dup2(saved, 1);
    close(saved);
    close(null_fd);
    state.counters["jobs"] = g_job_count;
}
BENCHMARK_CAPTURE(jobs_answer, never_fires_512, "never.crontab")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(jobs_answer, busy_512, "busy.crontab")->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
