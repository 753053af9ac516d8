// Where the node's cron keeps its files, fixed at build time, systemd's unit
// search path, and the prefix under which the cron files and the systemd
// units are read. The shown paths are the real ones; every access puts k_root
// before them, which is empty except in builds that read a prepared tree
// instead of the node.
#pragma once

extern const char *const k_root;           // prefix of every access, "" on a node
extern const char *const k_system_crontab; // /etc/crontab
extern const char *const k_cron_d;         // /etc/cron.d
extern const char *const k_cron_spools;    // spool folders, ":"-separated, first found wins
extern const char *const k_debian_cron;    // Debian's cron daemon
extern const char *const k_cronie;         // cronie's daemon
extern const char *const k_anacron;        // anacron, as /etc/crontab tests for it
extern const char *const k_passwd;         // accounts, for the name of our own user
extern const int k_child_timeout_ms;       // limit on reading crontab -l
// The Task Scheduler's task folder: "%SystemRoot%\System32\Tasks" on Windows,
// "" elsewhere (no Windows tasks are read), a folder of the prepared tree in
// the test build.
extern const char *const k_task_folder;
extern const char *const k_journalctl;    // the journal's reader, looked up on PATH
extern const char *const k_journal_dir;   // journal folder read, "" for the system's
extern const char *const k_timer_stamps;  // systemd's stamp files of Persistent= timers
extern const char *const k_anacron_spool; // anacron's dates of its last runs
extern const char *const k_text_logs;     // cron's text logs, ":"-separated, in order

// systemd's unit search path for the system manager, highest precedence
// first: /run/systemd/transient, /etc/systemd/system, ... /usr/lib/systemd/system.
enum { UNIT_SEARCH_COUNT = 6 };
extern const char *const k_unit_search_path[UNIT_SEARCH_COUNT];

// Writes k_root followed by path into out (capacity cap). Returns 1, or 0
// when it does not fit.
int root_path(const char *path, char *out, unsigned cap);
