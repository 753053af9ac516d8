// A calendar event written back as text: the normalized form that
// `systemd-analyze calendar` prints for it.
#pragma once
#include <stddef.h>

#include "cron/calendar.h"

// Writes the normalized form of the valid record cs into out (capacity cap):
// weekdays only when some are left out, then "YYYY-MM-DD HH:MM:SS" with every
// list sorted and freed of repeats, and the zone. Returns 1, or 0 when the
// text did not fit (out then holds what fitted).
int cal_normalized(const cal_spec *cs, char *out, size_t cap);
