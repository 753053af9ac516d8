// Debian's cron as the reference for what the program matches. The daemon
// runs in a private mount namespace (its own /etc/crontab, cron.d, spool,
// /run and /dev) with its syslog read from a socket bound at /dev/log, for a
// job that succeeds, one that fails, one with "%" in its command and one
// with a byte above 127, at -L 15 and at the default -L 1. Its own lines,
// put in a text log, are what the program then reads. Needs root, unshare
// and /usr/sbin/cron (skipped elsewhere); takes about a minute.
#include <errno.h>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <nlohmann/json.hpp>
#include <sched.h>
#include <signal.h>
#include <sstream>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "../blackbox/runner.h"
#include "jobs/history.h"

using nlohmann::json;

namespace {

const char *const k_cron = "/usr/sbin/cron";

const char *const k_commands[] = {
    "true",
    "sh -c 'exit 3'",
    "echo 50\\% done % input",
    "echo \xc3\xa9 >/dev/null",
};

std::string crontab_text() {
    std::string text = "SHELL=/bin/sh\nPATH=/usr/bin:/bin\nMAILTO=\"\"\n";
    for (const char *c : k_commands) text += std::string("* * * * * root ") + c + "\n";
    return text;
}

void put(const std::string &path, const std::string &text) {
    std::ofstream(path, std::ios::binary) << text;
}

// In a new mount namespace (the calling process is a child of the test):
// the cron files of dir, private /run and /dev, and a socket at /dev/log.
// Returns the socket, or -1.
int enter_namespace(const std::string &dir) {
    if (unshare(CLONE_NEWNS) != 0) return -1;
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return -1;
    const std::pair<std::string, const char *> binds[] = {
        {dir + "/crontab", "/etc/crontab"},
        {dir + "/cron.d", "/etc/cron.d"},
        {dir + "/crontabs", "/var/spool/cron/crontabs"},
    };
    for (int i = 0; i < 3; i++)
        if (mount(binds[i].first.c_str(), binds[i].second, nullptr, MS_BIND, nullptr) != 0)
            return -1;
    std::string old = dir + "/olddev";
    if (mount("/dev", old.c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0) return -1;
    if (mount("tmpfs", "/run", "tmpfs", 0, nullptr) != 0) return -1;
    if (mount("tmpfs", "/dev", "tmpfs", 0, nullptr) != 0) return -1;
    for (const char *name : {"null", "zero", "full", "random", "urandom", "tty"}) {
        std::string target = std::string("/dev/") + name;
        close(open(target.c_str(), O_CREAT | O_WRONLY, 0666));
        if (mount((old + "/" + name).c_str(), target.c_str(), nullptr, MS_BIND, nullptr) != 0)
            return -1;
    }
    int s = socket(AF_UNIX, SOCK_DGRAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    strcpy(addr.sun_path, "/dev/log");
    if (s < 0 || bind(s, (sockaddr *)&addr, sizeof addr) != 0) return -1;
    chmod("/dev/log", 0666);
    return s;
}

// Runs cron -f -L level until 12 s after the next minute began and writes
// every datagram it sent, one per line, to out. Exit status 0, or 77 when
// the namespace cannot be made.
[[noreturn]] void run_cron(const std::string &dir, const char *level, const std::string &out) {
    int s = enter_namespace(dir);
    if (s < 0) _exit(77);
    pid_t cron = fork();
    if (cron == 0) {
        const char *argv[] = {k_cron, "-f", "-L", level, nullptr};
        const char *envp[] = {"TZ=UTC", "PATH=/usr/sbin:/usr/bin:/sbin:/bin", nullptr};
        execve(k_cron, const_cast<char *const *>(argv), const_cast<char *const *>(envp));
        _exit(127);
    }
    time_t until = (time(nullptr) / 60 + 1) * 60 + 12;
    std::ofstream log(out, std::ios::binary);
    char buf[8192];
    while (time(nullptr) < until) {
        timeval tv{1, 0};
        setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        ssize_t n = recv(s, buf, sizeof buf, 0);
        if (n > 0) log << std::string(buf, (size_t)n) << "\n" << std::flush;
    }
    kill(cron, SIGTERM);
    waitpid(cron, nullptr, 0);
    _exit(0);
}

std::vector<std::string> lines_of(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::string> out;
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

// "<78>Dec 10 12:46:01 CRON[5855]: ..." as a text log has it, with a host.
std::string as_text_log(const std::vector<std::string> &datagrams) {
    std::string text;
    for (const auto &d : datagrams) {
        size_t start = d.find('>');
        if (d.empty() || d[0] != '<' || start == std::string::npos || d.size() < start + 16)
            continue;
        text += d.substr(start + 1, 15) + " node" + d.substr(start + 16) + "\n";
    }
    return text;
}

std::map<std::string, json> lasts_read_from(const std::string &syslog) {
    std::string root = make_temp_dir();
    mkdir((root + "/etc").c_str(), 0755);
    for (const char *d : {"/var", "/var/log", "/var/spool", "/var/spool/cron",
                          "/var/spool/cron/crontabs", "/etc/cron.d"})
        mkdir((root + d).c_str(), 0755);
    put(root + "/etc/crontab", crontab_text());
    put(root + "/var/log/syslog", syslog);
    auto r = run_in_tree(root, {"TZ=UTC", "QUERY_STRING=action=jobs&history=1", "PATH=/nonexistent",
                                "NO_FAKE_STAT=1"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    json answer = json::parse(json_body(r));
    std::map<std::string, json> out;
    for (const auto &job : answer["jobs"]) out[job["command"]] = job["last"];
    return out;
}

} // namespace

TEST(CronOracle, WhatDebiansCronLogsIsWhatIsMatched) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root for a mount namespace";
    if (access(k_cron, X_OK) != 0) GTEST_SKIP() << "Debian's cron is not installed";
    std::string dir = make_temp_dir();
    put(dir + "/crontab", crontab_text());
    chmod((dir + "/crontab").c_str(), 0644);
    for (const char *d : {"/cron.d", "/crontabs", "/olddev"}) mkdir((dir + d).c_str(), 0755);
    const char *const levels[] = {"15", "1"};
    pid_t children[2];
    for (int i = 0; i < 2; i++) {
        children[i] = fork();
        if (children[i] == 0) run_cron(dir, levels[i], dir + "/log." + levels[i]);
    }
    for (int i = 0; i < 2; i++) {
        int st = 0;
        waitpid(children[i], &st, 0);
        if (WIFEXITED(st) && WEXITSTATUS(st) == 77) GTEST_SKIP() << "no mount namespace here";
        ASSERT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0);
    }

    // The daemon's CMD records hold each command in its logged form.
    auto full = lines_of(dir + "/log.15");
    for (const char *c : k_commands) {
        char logged[256];
        cron_logged_command(c, logged, sizeof logged);
        bool found = false;
        for (const auto &line : full)
            found = found || (line.find("(root) CMD ([") != std::string::npos &&
                              line.size() > strlen(logged) + 1 &&
                              line.compare(line.size() - strlen(logged) - 1, std::string::npos,
                                           std::string(logged) + ")") == 0);
        EXPECT_TRUE(found) << c << " logged as " << logged;
    }

    struct {
        const char *level;
        const char *outcomes[4];
        const char *details[4];
    } cases[] = {
        // -L 15 logs pids, failures and ends; the "%" job's input writer may
        // fail on its own (SIGPIPE), which is not the job's failure.
        {"15", {"succeeded", "failed", "succeeded", "succeeded"}, {"", "exit status 3", "", ""}},
        {"1", {"started", "started", "started", "started"}, {"", "", "", ""}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string("-L ") + c.level);
        auto lines = lines_of(dir + "/log." + c.level);
        auto lasts = lasts_read_from(as_text_log(lines));
        for (int i = 0; i < 4; i++) {
            SCOPED_TRACE(k_commands[i]);
            const json &last = lasts[k_commands[i]];
            ASSERT_TRUE(last.is_object()) << as_text_log(lines);
            EXPECT_EQ(last["outcome"], c.outcomes[i]);
            EXPECT_EQ(last["detail"], c.details[i]);
            EXPECT_EQ(last["from"], "syslog");
            EXPECT_LE(last["ago_seconds"].get<long long>(), 120);
        }
    }
}
