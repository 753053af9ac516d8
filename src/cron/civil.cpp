#include "cron/civil.h"

// Howard Hinnant's civil calendar algorithms: March-based years in 400-year
// eras of 146097 days, shifted so that day 0 is 1970-01-01.
int64_t days_from_civil(int64_t y, int m, int d) {
    y -= m <= 2;
    int64_t era = (y >= 0 ? y : y - 399) / 400;
    int64_t yoe = y - era * 400;
    int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void civil_from_days(int64_t z, int64_t *y, int *m, int *d) {
    z += 719468;
    int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    int64_t doe = z - era * 146097;
    int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    int64_t mp = (5 * doy + 2) / 153;
    *d = (int)(doy - (153 * mp + 2) / 5 + 1);
    *m = (int)(mp < 10 ? mp + 3 : mp - 9);
    *y = yoe + era * 400 + (*m <= 2);
}

void merge_runs(int64_t acc[RUN_LIST_MAX], int *acc_count, const int64_t *add, int n) {
    int64_t merged[RUN_LIST_MAX];
    int i = 0, j = 0, k = 0;
    while (k < RUN_LIST_MAX && (i < *acc_count || j < n)) {
        int64_t v;
        if (j >= n || (i < *acc_count && acc[i] <= add[j]))
            v = acc[i++];
        else
            v = add[j++];
        if (k == 0 || merged[k - 1] != v) merged[k++] = v;
    }
    for (int x = 0; x < k; x++) acc[x] = merged[x];
    *acc_count = k;
}
