// Civil time for the three schedule searches (cron in UTC, cron in the local
// zone, calendar events): days of the proleptic Gregorian calendar counted
// from 1970-01-01, their weekdays, month lengths, floor division, how far a
// search looks and which times it takes, and the one merge of run lists.
#pragma once
#include <stdint.h>

// How many runs a schedule lists: the five earliest.
enum { RUN_LIST_MAX = 5 };

// Every search looks this many days (twenty years) ahead of today.
constexpr int64_t k_horizon_days = 7305;

// The largest time, either side of 1970, that a search starts from or a
// calendar time stamp ("@seconds") may name: far outside the years a zone
// database describes, and small enough that day arithmetic never overflows.
constexpr int64_t k_time_limit = (int64_t)1 << 40;

// The days whose every second is a representable time: a clock at the very
// ends of the 64-bit range finds fewer runs instead of overflowing.
constexpr int64_t k_first_day = INT64_MIN / 86400;
constexpr int64_t k_last_day = INT64_MAX / 86400 - 1;

// Days from 1970-01-01 to the proleptic Gregorian date y-m-d, and back.
int64_t days_from_civil(int64_t y, int m, int d);
void civil_from_days(int64_t days, int64_t *y, int *m, int *d);

// The weekday of day number day (days from 1970-01-01), 0 = Sunday .. 6.
inline int weekday_of_day(int64_t day) {
    // 1970-01-01 was a Thursday; day % 7 is negative before it.
    return (int)(((day % 7) + 11) % 7);
}

// The number of days of month m (1..12) of year y.
inline int month_length(int64_t y, int m) {
    static constexpr unsigned char k_len[13] = {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (m == 2 && ((y % 4 == 0 && y % 100 != 0) || y % 400 == 0)) return 29;
    return k_len[m];
}

// a / b rounded towards minus infinity (b != 0): the day of a time, also
// before 1970.
inline int64_t floor_div(int64_t a, int64_t b) {
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

// Merges the ascending distinct times add[0..n) into the ascending distinct
// list acc (count *acc_count), keeping its first RUN_LIST_MAX distinct times
// in ascending order.
void merge_runs(int64_t acc[RUN_LIST_MAX], int *acc_count, const int64_t *add, int n);
