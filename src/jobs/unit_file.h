// The systemd unit-file reader: the [Timer] keys of a timer and the
// [Service] keys of its service, read from the file's text as systemd reads
// them (sections, comments, continued lines, resets by an empty value).
#pragma once
#include <stddef.h>
#include <stdint.h>

enum { TIMER_CALENDARS = 8, TIMER_MONOTONIC = 8 };

// What a timer's unit file and drop-ins set, applied in order.
struct timer_unit {
    int32_t calendar_count;
    char calendars[TIMER_CALENDARS][256]; // OnCalendar= values as written
    int32_t monotonic_count;
    char monotonic[TIMER_MONOTONIC][64]; // "OnBootSec=15min"
    char randomized_delay[64];           // RandomizedDelaySec= value
    int32_t persistent;
    char unit[256]; // Unit=, or ""
};

// What the timer's service sets: its first ExecStart= and User=.
struct service_unit {
    char exec_start[512];
    char user[64];
};

// Applies the settings of one unit file text (len bytes, any content) to the
// records given (either may be null): [Timer] keys to timer, [Service] keys
// to service. An empty OnCalendar= or On...Sec= clears both timer lists.
void unit_apply_text(const char *text, size_t len, timer_unit *timer, service_unit *service);

// What the span of the monotonic [Timer] key is counted from ("after boot"
// for OnBootSec), or null when key is no such key.
const char *unit_monotonic_phrase(const char *key);
