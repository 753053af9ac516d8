#include "entry/entry.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "api/api.h"
#include "page/page.h"
#include "util/query.h"
#include "version.h"

int mode_meta(void) {
    fputs("{\"name\":\"crontab\",\"desc\":\"Cron jobs\"}\n", stdout);
    return 0;
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

    // A value cut to fit is not what was sent, so it never matches.
    char pwd[256];
    if (get_query_val(getenv("QUERY_STRING"), "pwd", pwd, sizeof pwd) == 1 &&
        password_equal(pwd, password))
        return;

    fwrite(k_unauthorized, 1, sizeof k_unauthorized - 1, stdout);
    fflush(stdout);
    exit(0);
}

static const char k_help[] =
    "zovuza_vuruvuz " ZV_VERSION "\n"
    "usage: zovuza_vuruvuz [--meta|--version|--help]\n"
    "       QUERY_STRING='action=jobs'          zovuza_vuruvuz\n"
    "       QUERY_STRING='action=explain&expr=*/15 * * * *' zovuza_vuruvuz\n"
    "Strictly read-only: never writes a crontab, never runs a scheduled command.\n";

int run_program(int argc, char **argv) {
    if (argc > 1 && argv[1]) {
        if (strcmp(argv[1], "--meta") == 0) return mode_meta();
        if (strcmp(argv[1], "--version") == 0) {
            fputs(ZV_VERSION "\n", stdout);
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
