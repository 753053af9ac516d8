// The timeline answer: every run of every job over the next hours.
#pragma once
#include <stdint.h>

// The number of hours the query's hours parameter asks for: digits only,
// clamped to 1..168; missing, empty or anything else gives 24.
int timeline_hours(const char *query);

// Reads the node's jobs as the jobs answer does, with every run of the window
// of timeline_hours(query) hours from the jobs' search start, and writes the
// timeline answer (body only), stamped with now.
void timeline_answer(const char *query, int64_t now);
