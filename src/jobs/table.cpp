#include <string.h>

#include "jobs/jobs.h"
#include "util/platform.h"
#include "util/str.h"

cron_job g_jobs[JOB_CAPACITY];
int32_t g_job_count;
int32_t g_truncated;
char g_sources[SOURCE_CAPACITY][64];
int32_t g_source_count;

void jobs_reset(void) {
    g_job_count = 0;
    g_source_count = 0;
    g_truncated = 0;
}

cron_job *add_job(void) {
    if (g_job_count >= JOB_CAPACITY) {
        g_truncated = 1;
        return nullptr;
    }
    // Records are taken in order: the pages of the next 32 are readied at
    // once rather than faulted in one by one.
    if (g_job_count % 32 == 0) {
        const int n = JOB_CAPACITY - g_job_count < 32 ? JOB_CAPACITY - g_job_count : 32;
        plat_prepare_pages(&g_jobs[g_job_count], (size_t)n * sizeof(cron_job));
    }
    cron_job *j = &g_jobs[g_job_count++];
    memset(j, 0, sizeof *j);
    return j;
}

void note_source(const char *name) {
    // Compared as stored: a long path is kept cut, and must match itself.
    char stored[sizeof g_sources[0]];
    str_set(stored, name);
    for (int i = 0; i < g_source_count; i++)
        if (strcmp(g_sources[i], stored) == 0) return;
    if (g_source_count >= SOURCE_CAPACITY) return;
    str_set(g_sources[g_source_count++], stored);
}
