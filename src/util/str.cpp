#include "util/str.h"

#include <string.h>

void str_copy(char *dst, size_t cap, const char *src) {
    if (!dst || cap == 0) return;
    if (!src) {
        dst[0] = 0;
        return;
    }
    size_t n = strnlen(src, cap - 1);
    memcpy(dst, src, n);
    dst[n] = 0;
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

void str_append(char *buf, size_t cap, const char *piece) {
    if (!buf || cap == 0 || !piece) return;
    size_t len = strnlen(buf, cap - 1);
    if (len >= cap - 1) return;
    size_t n = strnlen(piece, cap - 1 - len);
    memcpy(buf + len, piece, n);
    buf[len + n] = 0;
}
