#include "api/last.h"

#include <stdio.h>

#include "api/api.h"

// Writes a count of seconds in decimal, by hand: the Windows runtime's
// printf knows no "%lld".
static void put_seconds(int64_t v) {
    char digits[24];
    int n = 0;
    do {
        digits[n++] = (char)('0' + v % 10);
        v /= 10;
    } while (v > 0);
    while (n) putchar(digits[--n]);
}

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
    fputs(",\"ago_seconds\":", stdout);
    put_seconds(now > job->last_time ? now - job->last_time : 0);
    fputs(",\"outcome\":", stdout);
    json_str(job->last_outcome);
    fputs(",\"detail\":", stdout);
    json_str(job->last_detail);
    fputs(",\"from\":", stdout);
    json_str(job->last_from);
    putchar('}');
}
