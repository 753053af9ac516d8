// Fixed-capacity text helpers. A buffer of capacity N holds at most N - 1
// characters and a terminating zero; every copy and append cuts silently.
#pragma once
#include <stddef.h>

// Copies src into dst (capacity cap >= 1), cut to cap - 1 characters and
// always terminated. A null dst does nothing; a null src stores "".
void str_copy(char *dst, size_t cap, const char *src);

// Trims ASCII white space (space, \t, \n, \v, \f, \r) from both ends of s in
// place. Bytes 128..255 are never white space. A null s does nothing.
void str_trim(char *s);

// Appends piece to the terminated text in buf (capacity cap). When the buffer
// is full nothing is added; otherwise at most cap - 1 - length characters of
// piece are taken, possibly cutting it mid-word, with no mark of the cut.
void str_append(char *buf, size_t cap, const char *piece);

// True for the six ASCII white-space bytes, whatever the locale.
int is_space(unsigned char c);

// True for ASCII letters and digits, whatever the locale.
int is_alnum(unsigned char c);
