// The system crontabs: /etc/crontab and the files of /etc/cron.d, in the
// system layout, and a job for each file the node's cron would not load.
#include <stdio.h>
#include <string.h>

#include "cron/daemon.h"
#include "jobs/live.h"
#include "jobs/paths.h"
#include "util/platform.h"
#include "util/str.h"

namespace {

plat_name g_cron_d_names[1024];

// Why the cron daemon would not load the cron.d file name, or null when it
// would. Debian's cron (cron(8)) takes names made of letters, digits, "_" and
// "-" only; cronie skips names that start with "#", end in "~" or carry an
// ".rpm..." suffix of the package manager.
const char *name_rejection(const char *name, int flavor) {
    if (flavor == FLAVOR_CRONIE) {
        if (name[0] == '#') return "name starts with #";
        if (str_ends_with(name, "~")) return "name ends in ~";
        if (strstr(name, ".rpm")) return "name has an .rpm suffix";
        return nullptr;
    }
    return cron_name_rejection(name);
}

// Owner and mode checks that both daemons apply to the system crontabs: owned
// by root (a link and its target both) and not writable by group or others.
const char *file_rejection(const plat_file_info &link, const plat_file_info &target) {
    if (target.uid != 0 || (link.kind == PLAT_LINK && link.uid != 0)) return "not owned by root";
    if (target.mode & 022) return "writable by group or others";
    return nullptr;
}

// A job that says the file source is ignored by cron, and why.
void add_ignored(const char *source, const char *reason) {
    cron_job *job = add_job();
    if (!job) return;
    str_copy(job->source, sizeof job->source, source);
    str_copy(job->kind, sizeof job->kind, "cron");
    str_copy(job->error, sizeof job->error, "ignored by cron: ");
    str_append(job->error, sizeof job->error, reason);
    str_copy(job->description, sizeof job->description, "File ignored by cron");
    job->checked = 1; // a live job: its answer lists warnings (none)
    note_source(source);
}

// Reads one system-layout file, or lists it as ignored. name is null for
// /etc/crontab, whose name is no matter.
void read_system_file(const char *source, const char *name, const live_context *ctx) {
    char access[512];
    if (!root_path(source, access, sizeof access)) return;
    plat_file_info link, target;
    // Missing files, link loops, FIFOs, devices and sockets leave no trace.
    if (!plat_lstat(access, &link) || !plat_stat(access, &target)) return;
    if (target.kind != PLAT_REGULAR) return;
    const char *why = name ? name_rejection(name, ctx->flavor) : nullptr;
    if (!why) why = file_rejection(link, target);
    if (why) {
        add_ignored(source, why);
        return;
    }
    read_live_file(access, nullptr, source, 1, "", ctx);
}

} // namespace

// Dot files are skipped; every other name of /etc/cron.d is read or listed as
// ignored, in byte order.
void read_system_crontabs(const live_context *ctx) {
    read_system_file(k_system_crontab, nullptr, ctx);
    char access[512];
    if (!root_path(k_cron_d, access, sizeof access)) return;
    int left_out;
    const int n = plat_list_dir(access, g_cron_d_names,
                                (int)(sizeof g_cron_d_names / sizeof g_cron_d_names[0]), &left_out);
    if (n < 0) return;
    if (left_out) g_truncated = 1;
    for (int i = 0; i < n; i++) {
        const char *name = g_cron_d_names[i].s;
        // Dot files (Debian ships /etc/cron.d/.placeholder) are no crontabs.
        if (name[0] == '.') continue;
        char source[512];
        if (snprintf(source, sizeof source, "%s/%s", k_cron_d, name) >= (int)sizeof source)
            continue;
        read_system_file(source, name, ctx);
    }
}
