#include <stdio.h>
#include <string.h>
#include <time.h>

#include "api/api.h"
#include "util/platform.h"
#include "util/str.h"

// Valid UTF-8 goes out as it is. A byte that is no part of valid UTF-8 (a
// Latin-1 "é" in a crontab, a character cut in half) is written as the
// character of the same value, U+0080..U+00FF, as its Latin-1 reading: the
// answer stays valid UTF-8 and nothing is lost.
void json_str(const char *s) {
    static const char k_hex[] = "0123456789abcdef";
    putchar('"');
    const char *run = s;
    for (const char *p = s;;) {
        unsigned char c = (unsigned char)*p;
        if (c >= 0x20 && c < 0x80 && c != '"' && c != '\\') {
            p++;
            continue;
        }
        if (c >= 0x80) {
            int len = utf8_char_len((const unsigned char *)p, strnlen(p, 4));
            if (len > 0) {
                p += len;
                continue;
            }
        }
        fwrite(run, 1, (size_t)(p - run), stdout);
        if (c == 0) break;
        run = ++p;
        char esc[7] = {'\\', 0, 0, 0, 0, 0, 0};
        size_t n = 2;
        switch (c) {
        case '\t':
            esc[1] = 't';
            break;
        case '\n':
            esc[1] = 'n';
            break;
        case '\r':
            esc[1] = 'r';
            break;
        case '"':
            esc[1] = '"';
            break;
        case '\\':
            esc[1] = '\\';
            break;
        default:
            memcpy(esc + 1, "u00", 3);
            esc[4] = k_hex[c >> 4];
            esc[5] = k_hex[c & 15];
            n = 6;
        }
        fwrite(esc, 1, n, stdout);
    }
    putchar('"');
}

// Writes n digits of v, zero-padded, and returns the position after them.
static char *put_digits(char *p, int v, int n) {
    for (int i = n - 1; i >= 0; i--, v /= 10) p[i] = (char)('0' + v % 10);
    return p + n;
}

// strftime costs more than the rest of a jobs answer together; the common
// four-digit years are written by hand, with the same bytes, and any other
// year is left to strftime.
static void stamp(int ok, const struct tm *tm, const char *fmt, int utc, const char *fallback,
                  char *buf) {
    if (!ok) {
        strcpy(buf, fallback);
        return;
    }
    if (tm->tm_year >= 1000 - 1900 && tm->tm_year <= 9999 - 1900) {
        char *p = put_digits(buf, tm->tm_year + 1900, 4);
        *p++ = '-';
        p = put_digits(p, tm->tm_mon + 1, 2);
        *p++ = '-';
        p = put_digits(p, tm->tm_mday, 2);
        *p++ = utc ? 'T' : ' ';
        p = put_digits(p, tm->tm_hour, 2);
        *p++ = ':';
        p = put_digits(p, tm->tm_min, 2);
        if (utc) {
            *p++ = ':';
            p = put_digits(p, tm->tm_sec, 2);
            *p++ = 'Z';
        }
        *p = 0;
        return;
    }
    if (strftime(buf, 40, fmt, tm) == 0) strcpy(buf, fallback);
}

void utc_stamp(int64_t t, char *buf) {
    struct tm tm;
    int ok = plat_gmtime(t, &tm);
    stamp(ok, &tm, "%Y-%m-%dT%H:%M:%SZ", 1, "1970-01-01T00:00:00Z", buf);
}

void local_stamp(int64_t t, char *buf) {
    struct tm tm;
    int ok = plat_localtime(t, &tm);
    stamp(ok, &tm, "%Y-%m-%d %H:%M", 0, "1970-01-01 00:00", buf);
}

char *json_format_int(char *out, int64_t v) {
    char buf[24], *p = buf + sizeof buf;
    uint64_t u = v < 0 ? 0 - (uint64_t)v : (uint64_t)v;
    do {
        *--p = (char)('0' + u % 10);
        u /= 10;
    } while (u);
    if (v < 0) *--p = '-';
    const size_t n = (size_t)(buf + sizeof buf - p);
    memcpy(out, p, n);
    return out + n;
}

// Writes v in decimal: printf costs more than the rest of a run's stamps.
static void put_int(int64_t v) {
    char buf[24];
    fwrite(buf, 1, (size_t)(json_format_int(buf, v) - buf), stdout);
}

void json_int(int64_t v) {
    put_int(v);
}

void print_runs(const int64_t *runs, int count, int64_t now) {
    putchar('[');
    for (int i = 0; i < count; i++) {
        char utc[40], local[40];
        utc_stamp(runs[i], utc);
        local_stamp(runs[i], local);
        fputs(i ? ",{\"utc\":" : "{\"utc\":", stdout);
        json_str(utc);
        fputs(",\"local\":", stdout);
        json_str(local);
        fputs(",\"in_seconds\":", stdout);
        put_int(runs[i] - now);
        putchar('}');
    }
    putchar(']');
}

void json_header(void) {
    fputs("Content-Type: application/json; charset=utf-8\r\n"
          "Cache-Control: no-store\r\n"
          "X-Content-Type-Options: nosniff\r\n"
          "\r\n",
          stdout);
}
