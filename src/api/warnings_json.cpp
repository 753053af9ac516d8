#include <stdio.h>

#include "api/api.h"
#include "jobs/jobs.h"
#include "jobs/warnings.h"

void write_job_warnings(const cron_job *job) {
    if (!job->checked) return;
    fputs(",\"warnings\":[", stdout);
    const char *sep = "";
    for (uint16_t bit = 1; bit && bit <= WARN_NOT_ENABLED; bit = (uint16_t)(bit << 1)) {
        if (!(job->warnings & bit)) continue;
        char text[256];
        warning_text(job, bit, text, sizeof text);
        fputs(sep, stdout);
        json_str(text);
        sep = ",";
    }
    putchar(']');
}
