// Reading parameters of a raw query string (application/x-www-form-urlencoded).
#pragma once
#include <stddef.h>

// Looks up the first parameter called name at the start of a segment of the
// raw query string (may be null), copies at most cap - 1 raw bytes of its
// value into out (cap >= 2) and URL-decodes them in place: "+" is a space,
// "%" with two hexadecimal digits a byte, any other "%" itself; a decoded
// zero byte ends the value. Returns 0 when the parameter is absent, 1 when
// present (even empty), 2 when present but its raw value was cut to fit.
// out is always terminated.
int get_query_val(const char *query, const char *name, char *out, size_t cap);

// Like get_query_val, but decodes the whole raw value, so the cut (if any)
// comes after decoding and falls on a UTF-8 character boundary. Returns 0,
// 1, or 2 when the decoded value did not fit (out holds what did).
int get_query_text(const char *query, const char *name, char *out, size_t cap);
