// Request entry: the descriptor, query parameters and the node password.
#pragma once
#include <stddef.h>

// Writes the one-line plugin descriptor. Returns 0.
int mode_meta(void);

// Looks up the first parameter called name at the start of a segment of the
// raw query string (may be null), copies at most cap - 1 raw bytes of its
// value into out (cap >= 2) and URL-decodes them in place. Returns 1 when the
// parameter is present (even empty), else 0; out is always terminated.
int get_query_val(const char *query, const char *name, char *out, size_t cap);

// Returns when no node password is configured or a carrier holds it;
// otherwise writes the 401 answer and ends the process with status 0.
void require_node_auth(void);

// Compares a candidate with the password in time that does not depend on
// where they first differ. Returns 1 when equal byte for byte.
int password_equal(const char *candidate, const char *password);

// Runs one request as main does: options, descriptor, password, routing.
int run_program(int argc, char **argv);
