// Sorting of small arrays in place.
#pragma once
#include <stdint.h>
#include <string.h>

#include "util/platform.h"

// Sorts v[0..n) ascending by insertion: for the few values of one record.
inline void sort_int64(int64_t *v, int n) {
    for (int i = 1; i < n; i++)
        for (int j = i; j > 0 && v[j] < v[j - 1]; j--) {
            const int64_t t = v[j];
            v[j] = v[j - 1];
            v[j - 1] = t;
        }
}

// Sorts the names v[0..n) in byte order by insertion: for lists that are
// short (a drop-in folder) or made of runs already in order (folder
// listings put together).
inline void sort_names(plat_name *v, int n) {
    for (int a = 1; a < n; a++) {
        if (strcmp(v[a].s, v[a - 1].s) >= 0) continue;
        const plat_name t = v[a];
        int b = a;
        for (; b > 0 && strcmp(t.s, v[b - 1].s) < 0; b--) v[b] = v[b - 1];
        v[b] = t;
    }
}
