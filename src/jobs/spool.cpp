// The users' crontabs: the files of the first spool folder that exists, or,
// when that folder is root's, crontab -l for the user we run as.
#include <string.h>

#include "jobs/cron_load.h"
#include "jobs/live.h"
#include "jobs/paths.h"
#include "util/platform.h"
#include "util/str.h"

namespace {

// The names of the spool folder read; one file per user.
plat_name g_spool_names[1024];

// Runs crontab -l for the user we run as. A missing command, or no crontab
// ("no crontab for ..." goes to /dev/null), gives nothing.
void read_own_crontab(const live_context *ctx) {
    char user[64], passwd[512];
    if (!root_path(k_passwd, passwd, sizeof passwd)) passwd[0] = 0;
    plat_user_name(passwd[0] ? passwd : nullptr, user, sizeof user);
    static const char *const k_argv[] = {"crontab", "-l", nullptr};
    static plat_child child;
    if (!plat_child_start(&child, k_argv, k_child_timeout_ms)) return;
    read_live_file(nullptr, &child, "crontab -l", 0, user, ctx);
    plat_child_end(&child);
}

} // namespace

// The spool folders are tried in order; the first that exists is the one the
// node's cron reads, whether it holds crontabs or not.
void read_user_crontabs(const live_context *ctx) {
    char spools[512];
    str_copy(spools, sizeof spools, k_cron_spools);
    for (char *dir = spools; *dir;) {
        char *end = strchr(dir, ':');
        if (end) *end = 0;
        char access[512];
        plat_file_info info;
        if (dir[0] && root_path(dir, access, sizeof access) && plat_stat(access, &info) &&
            info.kind == PLAT_FOLDER) {
            int left_out;
            const int n =
                plat_list_dir(access, g_spool_names,
                              (int)(sizeof g_spool_names / sizeof g_spool_names[0]), &left_out);
            if (n < 0) break; // the spool is root's: ask crontab -l instead
            if (left_out) g_truncated = 1;
            for (int i = 0; i < n; i++) {
                const char *name = g_spool_names[i].s;
                if (name[0] == '.') continue;
                char source[512], file[512];
                if (snprintf(source, sizeof source, "%s/%s", dir, name) >= (int)sizeof source)
                    continue;
                if (!root_path(source, file, sizeof file)) continue;
                // Plain files only: /var/spool/cron also holds folders.
                if (!plat_lstat(file, &info) || info.kind != PLAT_REGULAR) continue;
                // The daemon skips a crontab of the wrong mode or owner whole.
                char why[96];
                const char *refusal =
                    spool_refusal(&info, name, node_passwd(), ctx->flavor, why, sizeof why);
                const int first = g_job_count;
                read_live_file(file, nullptr, source, 0, name, ctx);
                cron_refuse_jobs(first, source, refusal, 1);
            }
            return;
        }
        if (!end) break;
        dir = end + 1;
    }
    read_own_crontab(ctx);
}
