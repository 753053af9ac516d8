// The I/O floor of the largest live jobs answer: lists the folders and reads
// the files that the program reads for a node (its passwd, /etc/crontab, the
// cron.d files, the spool, a run-parts folder, the unit search path with its
// wants folders, and each timer's and service's unit file), in its working
// directory, and does nothing else. Built with the program's compiler and
// flags, and like the program without the C++ library, whose loading alone
// would cost more than a millisecond: it is what no reader of those files can
// go below.
//   zv_io_floor          the cron files and unit tree
//   zv_io_floor tasks    the task folder: every file under
//                        Windows/System32/Tasks opened, checked as a regular
//                        file, read whole and closed, as the program does
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char *const k_units[] = {"run/systemd/transient", "etc/systemd/system",
                               "run/systemd/system",    "usr/local/lib/systemd/system",
                               "lib/systemd/system",    "usr/lib/systemd/system"};
char g_buf[1 << 16];

struct name {
    char s[256];
};
name g_enabled[4096];
int g_enabled_count;

bool read_whole(const char *path) {
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    while (read(fd, g_buf, sizeof g_buf) > 0) {}
    close(fd);
    return true;
}

// Calls f(name) for each entry of the folder but "." and "..".
template <class F> void each_entry(const char *dir, F f) {
    DIR *d = opendir(dir);
    if (!d) return;
    while (dirent *e = readdir(d))
        if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0) f(e->d_name);
    closedir(d);
}

bool ends_with(const char *s, const char *tail) {
    size_t n = strlen(s), t = strlen(tail);
    return n >= t && strcmp(s + n - t, tail) == 0;
}

// The unit file of unit: the first one found along the search path.
void read_unit(const char *unit) {
    char path[600];
    for (const char *dir : k_units) {
        snprintf(path, sizeof path, "%s/%s", dir, unit);
        if (read_whole(path)) return;
    }
}

// A timer's service: its name with ".service" for ".timer".
void read_service(const char *timer) {
    char service[300];
    snprintf(service, sizeof service, "%.*s.service", (int)strlen(timer) - 6, timer);
    read_unit(service);
}

int by_name(const void *a, const void *b) {
    return strcmp(((const name *)a)->s, ((const name *)b)->s);
}

// Every entry below dir: a file is read, a folder walked.
void walk_tasks(const char *dir) {
    DIR *d = opendir(dir);
    if (!d) return;
    while (dirent *e = readdir(d)) {
        if (strcmp(e->d_name, ".") == 0 || strcmp(e->d_name, "..") == 0) continue;
        char path[1024];
        snprintf(path, sizeof path, "%s/%s", dir, e->d_name);
        const int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd < 0) continue;
        struct stat st = {};
        // One read, as a file shorter than the program's limit takes.
        static char whole[256 * 1024 + 1];
        if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
            const ssize_t got = read(fd, whole, sizeof whole);
            (void)got;
        }
        close(fd);
        if (S_ISDIR(st.st_mode)) walk_tasks(path);
    }
    closedir(d);
}

} // namespace

int main(int argc, char **argv) {
    if (argc > 1 && strcmp(argv[1], "tasks") == 0) {
        walk_tasks("Windows/System32/Tasks");
        return 0;
    }
    char path[600];
    read_whole("etc/passwd");
    read_whole("etc/crontab");
    static const char *const k_cron_dirs[] = {"etc/cron.d", "var/spool/cron/crontabs"};
    for (const char *dir : k_cron_dirs)
        each_entry(dir, [&](const char *n) {
            snprintf(path, sizeof path, "%s/%s", dir, n);
            read_whole(path);
        });
    each_entry("etc/cron.daily", [](const char *) {});
    // The enabled timers first, then those installed but not enabled, whose
    // unit file is read once to see its [Install] section and once more.
    for (const char *dir : k_units)
        each_entry(dir, [&](const char *n) {
            if (!ends_with(n, ".wants") && !ends_with(n, ".requires")) return;
            char wants[600];
            snprintf(wants, sizeof wants, "%s/%s", dir, n);
            each_entry(wants, [&](const char *t) {
                if (ends_with(t, ".timer") && g_enabled_count < 4096)
                    snprintf(g_enabled[g_enabled_count++].s, sizeof(name), "%s", t);
            });
        });
    qsort(g_enabled, (size_t)g_enabled_count, sizeof(name), by_name);
    int unique = 0;
    for (int i = 0; i < g_enabled_count; i++)
        if (!unique || strcmp(g_enabled[unique - 1].s, g_enabled[i].s) != 0)
            g_enabled[unique++] = g_enabled[i];
    g_enabled_count = unique;
    for (int i = 0; i < g_enabled_count; i++) {
        read_unit(g_enabled[i].s);
        read_service(g_enabled[i].s);
    }
    for (const char *dir : k_units)
        each_entry(dir, [&](const char *n) {
            name key;
            snprintf(key.s, sizeof key.s, "%s", n);
            if (!ends_with(n, ".timer") ||
                bsearch(&key, g_enabled, (size_t)g_enabled_count, sizeof(name), by_name))
                return;
            read_unit(n);
            read_unit(n);
            read_service(n);
        });
    return 0;
}
