// The few operating-system services that differ between the POSIX and the
// Windows build. Each build links exactly one implementation of this header.
#pragma once
#include <stdint.h>
#include <stdio.h>
#include <time.h>

// Prepares standard output: fully buffered, and binary on Windows so that
// CR LF goes out as two bytes. Call before anything is written.
void plat_stdout_init(void);

// Breaks t (seconds since 1970 UTC) into UTC / local calendar fields.
// Returns 1 on success, 0 when the time cannot be converted.
int plat_gmtime(int64_t t, struct tm *out);
int plat_localtime(int64_t t, struct tm *out);

// Starts the command line with its standard output readable from the returned
// stream, its standard error discarded. Returns null when it cannot start.
FILE *plat_popen(const char *cmdline);

// Waits for a command started by plat_popen and closes its stream.
void plat_pclose(FILE *f);

// Converts one line that a console command wrote into UTF-8, in out
// (capacity cap, always terminated, cut on a character boundary). Windows
// console programs write their texts ("Prêt", "Bereit") in the console's
// OEM code page; elsewhere the bytes are copied as they are.
void plat_console_to_utf8(const char *in, char *out, size_t cap);
