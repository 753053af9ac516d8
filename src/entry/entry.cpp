#include "entry/entry.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "api/api.h"
#include "page/page.h"

int mode_meta(void) {
    fputs("{\"name\":\"crontab\",\"desc\":\"Cron jobs\"}\n", stdout);
    return 0;
}

static int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// One left-to-right pass; decoded bytes are never decoded again.
static void url_decode(char *s) {
    char *w = s;
    for (const char *r = s; *r;) {
        int hi, lo;
        if (*r == '%' && (hi = hex_value(r[1])) >= 0 && (lo = hex_value(r[2])) >= 0) {
            *w++ = (char)(hi * 16 + lo);
            r += 3;
        } else if (*r == '+') {
            *w++ = ' ';
            r++;
        } else {
            *w++ = *r++;
        }
    }
    *w = 0;
}

int get_query_val(const char *query, const char *name, char *out, size_t cap) {
    out[0] = 0;
    if (!query || !*query) return 0;
    size_t nlen = strlen(name);
    for (const char *p = query;;) {
        if (strncmp(p, name, nlen) == 0 && p[nlen] == '=') {
            const char *v = p + nlen + 1;
            size_t n = strcspn(v, "&");
            // The cut counts encoded bytes: it comes before decoding.
            if (n > cap - 1) n = cap - 1;
            memcpy(out, v, n);
            out[n] = 0;
            url_decode(out);
            return 1;
        }
        const char *amp = strchr(p, '&');
        if (!amp || !amp[1]) return 0;
        p = amp + 1;
    }
}

int password_equal(const char *candidate, const char *password) {
    size_t clen = strlen(candidate), plen = strlen(password);
    unsigned diff = clen != plen;
    for (size_t i = 0; i < plen; i++) {
        unsigned char c = i < clen ? (unsigned char)candidate[i] : 0;
        diff |= c ^ (unsigned char)password[i];
    }
    return diff == 0;
}

static const char k_unauthorized[] = "Status: 401 Unauthorized\r\n"
                                     "Content-Type: application/json; charset=utf-8\r\n"
                                     "Cache-Control: no-store\r\n"
                                     "X-Content-Type-Options: nosniff\r\n"
                                     "\r\n"
                                     "{\"ok\":false,\"error\":\"invalid node password\"}\n";

void require_node_auth(void) {
    const char *password = getenv("VORN_PASSWORD");
    if (!password || !*password) return;

    const char *header = getenv("HTTP_X_VORN_PASSWORD");
    if (header && password_equal(header, password)) return;

    const char *auth = getenv("HTTP_AUTHORIZATION");
    if (auth) {
        while (*auth == ' ') auth++;
        if (strncmp(auth, "Bearer ", 7) == 0) {
            auth += 7;
            while (*auth == ' ') auth++;
            if (password_equal(auth, password)) return;
        }
    }

    char pwd[256];
    if (get_query_val(getenv("QUERY_STRING"), "pwd", pwd, sizeof pwd) &&
        password_equal(pwd, password))
        return;

    fwrite(k_unauthorized, 1, sizeof k_unauthorized - 1, stdout);
    fflush(stdout);
    exit(0);
}

static const char k_help[] =
    "zovuza_vuruvuz 1.0.1\n"
    "usage: zovuza_vuruvuz [--meta|--version|--help]\n"
    "       QUERY_STRING='action=jobs'          zovuza_vuruvuz\n"
    "       QUERY_STRING='action=explain&expr=*/15 * * * *' zovuza_vuruvuz\n"
    "Strictly read-only: never writes a crontab, never runs a scheduled command.\n";

int run_program(int argc, char **argv) {
    if (argc > 1 && argv[1]) {
        if (strcmp(argv[1], "--meta") == 0) return mode_meta();
        if (strcmp(argv[1], "--version") == 0) {
            fputs("1.0.1\n", stdout);
            return 0;
        }
        if (strcmp(argv[1], "--help") == 0) {
            fputs(k_help, stdout);
            return 0;
        }
    }
    if (getenv("QZ_PLUGIN_META")) return mode_meta();
    require_node_auth();
    const char *query = getenv("QUERY_STRING");
    if (query && (strstr(query, "action=") || strstr(query, "format=json")))
        return mode_json(query);
    char embed[16];
    get_query_val(query, "embed", embed, sizeof embed);
    html_head(strcmp(embed, "1") == 0 || strcmp(embed, "true") == 0);
    html_body();
    return 0;
}
