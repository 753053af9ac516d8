// Request entry: the options, the descriptor and the node password.
#pragma once
#include <stddef.h>

// Writes the one-line plugin descriptor. Returns 0.
int mode_meta(void);

// Returns when no node password is configured or a carrier holds it;
// otherwise writes the 401 answer and ends the process with status 0.
void require_node_auth(void);

// Compares a candidate with the password in time that does not depend on
// where they first differ. Returns 1 when equal byte for byte.
int password_equal(const char *candidate, const char *password);

// Runs one request as main does: options, descriptor, password, routing.
int run_program(int argc, char **argv);
