#include "util/query.h"

#include <string.h>

#include "util/str.h"

static int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Decodes the n raw bytes at r into w (room for cap - 1 bytes and the zero),
// one left-to-right pass, so decoded bytes are never decoded again. Stops at
// a decoded zero byte. Returns 1 when bytes were left over, else 0.
static int url_decode(const char *r, size_t n, char *w, size_t cap) {
    const char *end = r + n;
    size_t len = 0;
    int cut = 0;
    while (r < end) {
        int hi, lo;
        char c;
        if (*r == '%' && end - r >= 3 && (hi = hex_value(r[1])) >= 0 &&
            (lo = hex_value(r[2])) >= 0) {
            c = (char)(hi * 16 + lo);
            r += 3;
        } else {
            c = *r == '+' ? ' ' : *r;
            r++;
        }
        if (c == 0) break;
        if (len + 1 >= cap) {
            cut = 1;
            break;
        }
        w[len++] = c;
    }
    if (cut) len = utf8_drop_partial(w, len);
    w[len] = 0;
    return cut;
}

// The raw value of the first name= at the start of a segment, or null.
static const char *find_value(const char *query, const char *name, size_t *n) {
    if (!query || !*query) return nullptr;
    size_t nlen = strlen(name);
    for (const char *p = query;;) {
        if (strncmp(p, name, nlen) == 0 && p[nlen] == '=') {
            const char *v = p + nlen + 1;
            *n = strcspn(v, "&");
            return v;
        }
        const char *amp = strchr(p, '&');
        if (!amp || !amp[1]) return nullptr;
        p = amp + 1;
    }
}

int get_query_val(const char *query, const char *name, char *out, size_t cap) {
    out[0] = 0;
    size_t n;
    const char *v = find_value(query, name, &n);
    if (!v) return 0;
    // The cut counts encoded bytes: it comes before decoding.
    int cut = n > cap - 1;
    if (cut) n = cap - 1;
    url_decode(v, n, out, cap);
    return cut ? 2 : 1;
}

int get_query_text(const char *query, const char *name, char *out, size_t cap) {
    out[0] = 0;
    size_t n;
    const char *v = find_value(query, name, &n);
    if (!v) return 0;
    return url_decode(v, n, out, cap) ? 2 : 1;
}
