// Compiled once per program: the node build takes the real paths, a test build
// the same paths under a prepared root.
#include "jobs/paths.h"

#include <stdio.h>

#ifndef ZV_ROOT
#define ZV_ROOT ""
#endif
#ifndef ZV_SYSTEM_CRONTAB
#define ZV_SYSTEM_CRONTAB "/etc/crontab"
#endif
#ifndef ZV_CRON_D
#define ZV_CRON_D "/etc/cron.d"
#endif
#ifndef ZV_CRON_SPOOLS
#define ZV_CRON_SPOOLS "/var/spool/cron/crontabs:/var/spool/cron:/usr/lib/cron/tabs:/etc/crontabs"
#endif
#ifndef ZV_DEBIAN_CRON
#define ZV_DEBIAN_CRON "/usr/sbin/cron"
#endif
#ifndef ZV_CRONIE
#define ZV_CRONIE "/usr/sbin/crond"
#endif
#ifndef ZV_ANACRON
#define ZV_ANACRON "/usr/sbin/anacron"
#endif
#ifndef ZV_PASSWD
#define ZV_PASSWD "/etc/passwd"
#endif
#ifndef ZV_TASK_FOLDER
#ifdef _WIN32
#define ZV_TASK_FOLDER "%SystemRoot%\\System32\\Tasks"
#else
#define ZV_TASK_FOLDER ""
#endif
#endif
#ifndef ZV_CHILD_TIMEOUT_MS
#define ZV_CHILD_TIMEOUT_MS 3000
#endif
#ifndef ZV_JOURNALCTL
#define ZV_JOURNALCTL "journalctl"
#endif
#ifndef ZV_JOURNAL_DIR
#define ZV_JOURNAL_DIR ""
#endif
#ifndef ZV_TIMER_STAMPS
#define ZV_TIMER_STAMPS "/var/lib/systemd/timers"
#endif
#ifndef ZV_ANACRON_SPOOL
#define ZV_ANACRON_SPOOL "/var/spool/anacron"
#endif
#ifndef ZV_TEXT_LOGS
#define ZV_TEXT_LOGS "/var/log/syslog:/var/log/cron:/var/log/cron.log:/var/log/messages"
#endif

const char *const k_root = ZV_ROOT;
const char *const k_system_crontab = ZV_SYSTEM_CRONTAB;
const char *const k_cron_d = ZV_CRON_D;
const char *const k_cron_spools = ZV_CRON_SPOOLS;
const char *const k_debian_cron = ZV_DEBIAN_CRON;
const char *const k_cronie = ZV_CRONIE;
const char *const k_anacron = ZV_ANACRON;
const char *const k_passwd = ZV_PASSWD;
const int k_child_timeout_ms = ZV_CHILD_TIMEOUT_MS;
const char *const k_journalctl = ZV_JOURNALCTL;
const char *const k_journal_dir = ZV_JOURNAL_DIR;
const char *const k_timer_stamps = ZV_TIMER_STAMPS;
const char *const k_anacron_spool = ZV_ANACRON_SPOOL;
const char *const k_text_logs = ZV_TEXT_LOGS;
const char *const k_unit_search_path[UNIT_SEARCH_COUNT] = {
    "/run/systemd/transient",        "/etc/systemd/system", "/run/systemd/system",
    "/usr/local/lib/systemd/system", "/lib/systemd/system", "/usr/lib/systemd/system",
};
const char *const k_task_folder = ZV_TASK_FOLDER;

int root_path(const char *path, char *out, unsigned cap) {
    int n = snprintf(out, cap, "%s%s", k_root, path);
    return n >= 0 && (unsigned)n < cap;
}
