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

// Calendar conversions in a chosen zone. plat_mktime and plat_localtime use
// the process's zone (TZ, else the system zone) unless plat_zone_push has
// switched them to another one; plat_zone_pop switches back.

// True when name is a zone of the system's zone database (a TZif file under
// /usr/share/zoneinfo, name made of letters, digits and "/-_+").
int plat_zone_exists(const char *name);

// Makes the named zone the conversion zone until plat_zone_pop. Returns 1, or
// 0 (nothing changed) when the zone does not exist or cannot be switched to.
int plat_zone_push(const char *name);
void plat_zone_pop(void);

// Normalizes the calendar fields of tm (tm_isdst -1: let the zone decide) in
// the conversion zone, or in UTC when utc is set, and returns the time, or -1
// when it cannot be represented.
int64_t plat_mktime(struct tm *tm, int utc);

// The conversion zone's standard and daylight-saving abbreviations ("" when
// unknown); valid until the zone changes.
void plat_zone_abbrevs(const char **std_name, const char **dst_name);
