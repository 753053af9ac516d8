// The "last" key of a job in the jobs answer.
#pragma once
#include <stdint.h>

#include "jobs/jobs.h"

// Writes ",\"last\":" and either null (no run recorded) or the job's last
// run: its start in UTC and local time, the seconds from it to now (0 when
// it lies ahead), its outcome, detail and the record it was read from.
void write_last(const cron_job *job, int64_t now);
