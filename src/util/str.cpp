#include "util/str.h"

#include <string.h>

int utf8_char_len(const unsigned char *s, size_t avail) {
    unsigned char c = s[0];
    if (c < 0x80) return 1;
    int len;
    unsigned char lo = 0x80, hi = 0xBF; // allowed range of the second byte
    if (c >= 0xC2 && c <= 0xDF) {
        len = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        len = 3;
        if (c == 0xE0) lo = 0xA0; // overlong below U+0800
        if (c == 0xED) hi = 0x9F; // UTF-16 surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
        len = 4;
        if (c == 0xF0) lo = 0x90; // overlong below U+10000
        if (c == 0xF4) hi = 0x8F; // above U+10FFFF
    } else {
        return 0;
    }
    if (avail < (size_t)len) return 0;
    if (s[1] < lo || s[1] > hi) return 0;
    for (int i = 2; i < len; i++)
        if ((s[i] & 0xC0) != 0x80) return 0;
    return len;
}

size_t utf8_cut(const char *s, size_t n, size_t cap) {
    if (n <= cap) return n;
    // Walk back to the start of the character that holds byte cap (at most
    // three continuation bytes); keep it only when it ends before the cut.
    const unsigned char *u = (const unsigned char *)s;
    size_t start = cap;
    while (start > 0 && cap - start < 3 && (u[start] & 0xC0) == 0x80) start--;
    if (start < cap) {
        int len = utf8_char_len(u + start, n - start);
        if (len > 0 && start + (size_t)len > cap) return start;
    }
    return cap;
}

size_t utf8_drop_partial(const char *s, size_t len) {
    const unsigned char *u = (const unsigned char *)s;
    size_t start = len;
    while (start > 0 && len - start < 3 && (u[start - 1] & 0xC0) == 0x80) start--;
    if (start == 0) return len;
    unsigned char lead = u[start - 1];
    size_t need = lead >= 0xF0 && lead <= 0xF4 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 1;
    if (lead >= 0xF5 || need == 1) return len;
    return start - 1 + need > len ? start - 1 : len;
}

int str_copy_span(char *dst, size_t cap, const char *src, size_t n) {
    if (!dst || cap == 0) return 0;
    if (!src) n = 0;
    size_t keep = utf8_cut(src, n, cap - 1);
    if (keep) memcpy(dst, src, keep);
    dst[keep] = 0;
    return keep < n;
}

int str_copy(char *dst, size_t cap, const char *src) {
    if (!dst || cap == 0) return 0;
    // Looking one byte past what fits tells a cut from an exact fit.
    size_t n = src ? strnlen(src, cap + 3) : 0;
    return str_copy_span(dst, cap, src, n);
}

int is_space(unsigned char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

int is_alnum(unsigned char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

void str_trim(char *s) {
    if (!s) return;
    size_t lead = 0;
    while (s[lead] && is_space((unsigned char)s[lead])) lead++;
    size_t len = strlen(s + lead);
    if (lead) memmove(s, s + lead, len + 1);
    while (len > 0 && is_space((unsigned char)s[len - 1])) s[--len] = 0;
}

int str_append(char *buf, size_t cap, const char *piece) {
    if (!buf || cap == 0 || !piece) return 0;
    size_t len = strnlen(buf, cap - 1);
    if (len >= cap - 1) return piece[0] != 0;
    return str_copy(buf + len, cap - len, piece);
}
