// The I/O floor of the largest live jobs answer: lists the folders and reads
// the files that the program reads for a node (its passwd, /etc/crontab, the
// cron.d files, the spool, a run-parts folder, the unit search path with its
// wants folders, and each timer's and service's unit file), in its working
// directory, and does nothing else. Built with the program's compiler and
// flags, it is what no reader of those files can go below.
#include <dirent.h>
#include <fcntl.h>
#include <set>
#include <string.h>
#include <string>
#include <unistd.h>

namespace {

const char *const k_units[] = {"run/systemd/transient", "etc/systemd/system",
                               "run/systemd/system",    "usr/local/lib/systemd/system",
                               "lib/systemd/system",    "usr/lib/systemd/system"};
char g_buf[1 << 16];

bool read_whole(const std::string &path) {
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    while (read(fd, g_buf, sizeof g_buf) > 0) {}
    close(fd);
    return true;
}

// Calls f(name) for each entry of the folder but "." and "..".
template <class F> void each_entry(const std::string &dir, F f) {
    DIR *d = opendir(dir.c_str());
    if (!d) return;
    while (dirent *e = readdir(d))
        if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0) f(std::string(e->d_name));
    closedir(d);
}

bool ends_with(const std::string &s, const char *tail) {
    size_t n = strlen(tail);
    return s.size() >= n && s.compare(s.size() - n, n, tail) == 0;
}

// The unit file of name: the first one found along the search path.
void read_unit(const std::string &name) {
    for (const char *dir : k_units)
        if (read_whole(std::string(dir) + "/" + name)) return;
}

} // namespace

int main() {
    read_whole("etc/passwd");
    read_whole("etc/crontab");
    for (const char *dir : {"etc/cron.d", "var/spool/cron/crontabs"})
        each_entry(dir, [&](const std::string &n) { read_whole(std::string(dir) + "/" + n); });
    each_entry("etc/cron.daily", [](const std::string &) {});
    // The enabled timers first, then those installed but not enabled, whose
    // unit file is read once to see its [Install] section and once more.
    std::set<std::string> enabled;
    for (const char *dir : k_units)
        each_entry(dir, [&](const std::string &n) {
            if (!ends_with(n, ".wants") && !ends_with(n, ".requires")) return;
            each_entry(std::string(dir) + "/" + n, [&](const std::string &t) {
                if (ends_with(t, ".timer")) enabled.insert(t);
            });
        });
    for (const std::string &t : enabled) {
        read_unit(t);
        read_unit(t.substr(0, t.size() - 6) + ".service");
    }
    for (const char *dir : k_units)
        each_entry(dir, [&](const std::string &n) {
            if (!ends_with(n, ".timer") || enabled.count(n)) return;
            read_unit(n);
            read_unit(n);
            read_unit(n.substr(0, n.size() - 6) + ".service");
        });
    return 0;
}
