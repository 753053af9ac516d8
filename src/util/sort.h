// Sorting of small arrays in place.
#pragma once
#include <stdint.h>

// Sorts v[0..n) ascending by insertion: for the few values of one record.
inline void sort_int64(int64_t *v, int n) {
    for (int i = 1; i < n; i++)
        for (int j = i; j > 0 && v[j] < v[j - 1]; j--) {
            const int64_t t = v[j];
            v[j] = v[j - 1];
            v[j - 1] = t;
        }
}
