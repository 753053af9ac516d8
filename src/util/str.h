// Fixed-capacity text helpers. A buffer of capacity N holds at most N - 1
// bytes and a terminating zero. Every copy into a fixed buffer goes through
// str_copy / str_copy_span (or str_set / str_set_span, which take the
// capacity from the array), so a cut is one rule in one place: it falls on a
// UTF-8 character boundary and is reported to the caller.
#pragma once
#include <stddef.h>
#include <string.h>

// Copies src into dst (capacity cap >= 1), always terminated. A text that
// does not fit is cut to at most cap - 1 bytes, never inside a UTF-8
// character. Returns 1 when it cut, else 0. A null dst does nothing; a null
// src stores "".
int str_copy(char *dst, size_t cap, const char *src);

// The same for the n bytes at src (which need not be terminated there).
int str_copy_span(char *dst, size_t cap, const char *src, size_t n);

// str_copy / str_copy_span with the capacity of the destination array.
template <size_t N> int str_set(char (&dst)[N], const char *src) {
    return str_copy(dst, N, src);
}
template <size_t N> int str_set_span(char (&dst)[N], const char *src, size_t n) {
    return str_copy_span(dst, N, src, n);
}

// The length to keep of the n bytes at s when at most cap bytes fit: n
// itself when n <= cap, else cap moved back so that no UTF-8 character of s
// is split.
size_t utf8_cut(const char *s, size_t n, size_t cap);

// The length of the first len bytes of s without a UTF-8 character that
// they end in the middle of: for a text that was cut at len.
size_t utf8_drop_partial(const char *s, size_t len);

// Trims ASCII white space (space, \t, \n, \v, \f, \r) from both ends of s in
// place. Bytes 128..255 are never white space. A null s does nothing.
void str_trim(char *s);

// Appends piece to the terminated text in buf (capacity cap). When the buffer
// is full nothing is added; otherwise what fits of piece is taken, cut like
// str_copy, with no mark of the cut. Returns 1 when it cut, else 0.
int str_append(char *buf, size_t cap, const char *piece);

// True when the terminated text s ends in tail (every text ends in "").
// Inline, so that the length of a literal tail is known where it is called.
inline int str_ends_with(const char *s, const char *tail) {
    const size_t n = strlen(s), t = strlen(tail);
    return n >= t && memcmp(s + n - t, tail, t) == 0;
}

// True for the six ASCII white-space bytes, whatever the locale.
int is_space(unsigned char c);

// True for ASCII letters and digits, whatever the locale.
int is_alnum(unsigned char c);

// Length of the well-formed UTF-8 character at s (1 to 4), or 0 when the
// bytes there are no such character: a stray continuation byte, a lead byte
// without its continuation bytes, an overlong form, a surrogate or a value
// above U+10FFFF. At most avail bytes are looked at; s[0] must exist.
int utf8_char_len(const unsigned char *s, size_t avail);
