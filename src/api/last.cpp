#include "api/last.h"

#include <stdio.h>

#include "api/api.h"

void write_last(const cron_job *job, int64_t now) {
    if (!job->last_from[0]) {
        fputs(",\"last\":null", stdout);
        return;
    }
    char utc[40], local[40];
    utc_stamp(job->last_time, utc);
    local_stamp(job->last_time, local);
    fputs(",\"last\":{\"utc\":", stdout);
    json_str(utc);
    fputs(",\"local\":", stdout);
    json_str(local);
    long long ago = now > job->last_time ? (long long)(now - job->last_time) : 0;
    printf(",\"ago_seconds\":%lld,\"outcome\":", ago);
    json_str(job->last_outcome);
    fputs(",\"detail\":", stdout);
    json_str(job->last_detail);
    fputs(",\"from\":", stdout);
    json_str(job->last_from);
    putchar('}');
}
