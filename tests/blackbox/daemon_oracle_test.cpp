// What the node's own tools do with prepared files, against what the program
// says of the same files: Debian's cron daemon (run in a private mount
// namespace over the prepared /etc/crontab, /etc/cron.d, spool and passwd,
// its syslog read from a socket bound at /dev/log), run-parts --test, sh's
// command -v and systemctl --root. Where they disagree, the tool is right.
// Each test skips where its tool, or the namespace, is not available.
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <poll.h>
#include <sched.h>
#include <set>
#include <signal.h>
#include <sstream>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "runner.h"

using nlohmann::json;
namespace fs = std::filesystem;

namespace {

void write_file(const std::string &path, const std::string &text, int mode = 0644) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << text;
    chmod(path.c_str(), (mode_t)mode);
}

long long monotonic_ms() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (long long)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

// In a child with its own mount namespace: the tree's files over the node's,
// a fresh /dev (null, zero, urandom kept) whose /dev/log is our socket, a
// fresh /run; then cron -f -L 15 until its @reboot jobs have run. Writes what
// cron logged to out_fd. Exits 77 when the namespace cannot be made.
[[noreturn]] void daemon_child(const std::string &tree, int out_fd) {
    auto bind_at = [](const std::string &from, const std::string &to) {
        return mount(from.c_str(), to.c_str(), nullptr, MS_BIND, nullptr) == 0;
    };
    if (unshare(CLONE_NEWNS) != 0) _exit(77);
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) _exit(77);
    const std::string olddev = tree + "/.olddev";
    fs::create_directories(olddev);
    if (!bind_at("/dev", olddev)) _exit(77);
    if (mount("tmpfs", "/dev", "tmpfs", 0, "mode=0755") != 0) _exit(77);
    for (const char *node : {"null", "zero", "urandom", "random"}) {
        const std::string at = std::string("/dev/") + node;
        close(open(at.c_str(), O_CREAT | O_WRONLY, 0666));
        if (!bind_at(olddev + "/" + node, at)) _exit(77);
    }
    if (mount("tmpfs", "/run", "tmpfs", 0, "mode=0755") != 0) _exit(77);
    fs::create_directories("/var/spool/cron/crontabs");
    if (!bind_at(tree + "/etc/crontab", "/etc/crontab") ||
        !bind_at(tree + "/etc/cron.d", "/etc/cron.d") ||
        !bind_at(tree + "/etc/passwd", "/etc/passwd") ||
        !bind_at(tree + "/etc/shadow", "/etc/shadow") ||
        !bind_at(tree + "/var/spool/cron/crontabs", "/var/spool/cron/crontabs"))
        _exit(77);
    for (const char *folder : {"/etc/cron.hourly", "/etc/cron.daily"})
        if (fs::exists(tree + folder)) bind_at(tree + folder, folder);
    int sock = socket(AF_UNIX, SOCK_DGRAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    strcpy(addr.sun_path, "/dev/log");
    if (sock < 0 || bind(sock, (sockaddr *)&addr, sizeof addr) != 0) _exit(77);
    pid_t cron = fork();
    if (cron == 0) {
        setpgid(0, 0);
        int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        dup2(null, 2);
        execl("/usr/sbin/cron", "cron", "-f", "-L", "15", (char *)nullptr);
        _exit(127);
    }
    // The @reboot jobs run at once; wait until the log has been quiet for a
    // while after cron said so, within a bound.
    std::string log;
    const long long give_up = monotonic_ms() + 20000;
    long long quiet_until = -1;
    char buf[4096];
    while (monotonic_ms() < give_up && (quiet_until < 0 || monotonic_ms() < quiet_until)) {
        pollfd p{sock, POLLIN, 0};
        if (poll(&p, 1, 100) > 0) {
            ssize_t n = recv(sock, buf, sizeof buf, 0);
            if (n > 0) {
                log.append(buf, (size_t)n);
                log += '\n';
                if (quiet_until >= 0 || log.find("Running @reboot jobs") != std::string::npos)
                    quiet_until = monotonic_ms() + 1500;
            }
        }
    }
    kill(-cron, SIGKILL);
    waitpid(cron, nullptr, 0);
    if (write(out_fd, log.data(), log.size()) < 0) _exit(1);
    _exit(0);
}

// cron's syslog for the prepared tree, or "" with *skip set when the daemon
// cannot be run here.
std::string cron_log(const std::string &tree, bool *skip) {
    *skip = true;
    if (geteuid() != 0 || access("/usr/sbin/cron", X_OK) != 0) return "";
    int fds[2];
    if (pipe(fds) != 0) return "";
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        daemon_child(tree, fds[1]);
    }
    close(fds[1]);
    std::string log;
    char buf[4096];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0) log.append(buf, (size_t)n);
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return "";
    *skip = false;
    return log;
}

// Whether cron ran the @reboot job "echo MARK" (its CMD line names it).
bool ran(const std::string &log, const std::string &mark) {
    return log.find("CMD (") != std::string::npos &&
           (log.find(" echo " + mark + ")") != std::string::npos ||
            log.find(" echo " + mark + " ") != std::string::npos);
}

// A node tree for the root build and for cron: Debian's cron installed,
// this machine's accounts, empty crontab and folders unless filled.
std::string make_node() {
    std::string root = make_temp_dir();
    write_file(root + "/usr/sbin/cron", "", 0755);
    write_file(root + "/etc/passwd", read_file("/etc/passwd"));
    write_file(root + "/etc/shadow", read_file("/etc/shadow"), 0640);
    write_file(root + "/etc/crontab", "");
    fs::create_directories(root + "/etc/cron.d");
    fs::create_directories(root + "/var/spool/cron/crontabs");
    return root;
}

json jobs_of(const std::string &root) {
    auto env = base_env();
    env.push_back("QUERY_STRING=action=jobs");
    env.push_back("PATH=/usr/bin:/bin");
    auto r = run_in_tree(root, env, 60);
    EXPECT_EQ(r.err, "");
    return json::parse(json_body(r));
}

// The program's word on a file: loaded unless every job of source is
// listed as ignored by cron.
bool program_loads(const json &j, const std::string &source) {
    bool any = false;
    for (const auto &job : j["jobs"]) {
        if (job["source"] != source) continue;
        any = true;
        const std::string error = job.value("error", "");
        if (error.rfind("ignored by cron: ", 0) != 0) return true;
    }
    return !any;
}

struct line_case {
    const char *line; // after the file's own @reboot line
    bool system;      // a cron.d file, else a user's crontab
    bool line_end;
};

// Lines cron reads, and lines for which it refuses the whole file.
const line_case k_lines[] = {
    {"* * * * * root echo ok", true, true},
    {"0 5 * *", true, true},
    {"* * * * * nosuchuser echo a", true, true},
    {"5/10 * * * * root echo b", true, true},
    {"* * * * * root echo noeol", true, false},
    {"FOO=bar", true, false},
    {"# a comment", true, false},
    {"   ", true, false},
    {"* * * * * root", true, true},
    {"0 5 * * * root   ", true, true},
    {"* * * * *", true, true},
    {"* * * * * root echo a\r", true, true},
    {"MAILTO = ops", true, true},
    {"\"A B\"=1", true, true},
    {"=x", true, true},
    {"FOO", true, true},
    {"@foo root echo a", true, true},
    {"@Daily root x", true, true},
    {"@daily nosuch x", true, true},
    {"@reboot", true, true},
    {"*/0 * * * * root x", true, true},
    {"1-5/0 * * * * root x", true, true},
    {"5-1 * * * * root x", true, true},
    {"0-59/90 * * * * root x", true, true},
    {"50-70/30 * * * * root x", true, true},
    {"0-60 * * * * root x", true, true},
    {"0 0 * * 7 root x", true, true},
    {"0 0 * * 8 root x", true, true},
    {"0 0 * * 5-9 root x", true, true},
    {"0 0 * jan-mar mon root x", true, true},
    {"0 0 * JAN Mon root x", true, true},
    {"0 0 * * monday root x", true, true},
    {"0 0 * * mon-fri/2 root x", true, true},
    {"0 0 * * 1,sat root x", true, true},
    {"0 24 * * * root x", true, true},
    {"0 0 0 * * root x", true, true},
    {"0 0 * 0 * root x", true, true},
    {"a * * * * root x", true, true},
    {"~ * * * * root x", true, true},
    {"*x * * * * root x", true, true},
    {"1x * * * * root x", true, true},
    {"1-2-3 * * * * root x", true, true},
    {"1-2x * * * * root x", true, true},
    {"*/5x * * * * root x", true, true},
    {"*/5/2 * * * * root x", true, true},
    {"0-5/a * * * * root x", true, true},
    {"0 0 1,,2 * * root x", true, true},
    {"007 0 * * * root x", true, true},
    {"0 0 * * 1\r root x", true, true},
    {"* * * * *", false, true},
    {"* * * * *   ", false, true},
    {"0 5 * *", false, true},
    {"5/10 * * * * x", false, true},
    {"@reboot", false, true},
    {"0 0 * * 1\r", false, true},
    {"* * * * * x", false, false},
};

} // namespace

TEST(DaemonOracle, CronRefusesTheSameFilesAsTheProgramSays) {
    std::string root = make_node();
    std::string passwd = read_file(root + "/etc/passwd");
    std::string shadow = read_file(root + "/etc/shadow");
    const int count = (int)(sizeof k_lines / sizeof k_lines[0]);
    for (int i = 0; i < count; i++) {
        const line_case &c = k_lines[i];
        const std::string mark = "m" + std::to_string(i);
        std::string text = (c.system ? "@reboot root echo " : "@reboot echo ") + mark + "\n" +
                           c.line + (c.line_end ? "\n" : "");
        if (c.system) {
            write_file(root + "/etc/cron.d/c" + std::to_string(i), text);
        } else {
            // A user of uid 0 per case, so that each case has a crontab.
            const std::string user = "u" + std::to_string(i);
            passwd += user + ":x:0:0::/root:/bin/sh\n";
            shadow += user + ":*:19000:0:99999:7:::\n";
            write_file(root + "/var/spool/cron/crontabs/" + user, text, 0600);
        }
    }
    write_file(root + "/etc/passwd", passwd);
    write_file(root + "/etc/shadow", shadow, 0640);
    bool skip;
    const std::string log = cron_log(root, &skip);
    if (skip) GTEST_SKIP() << "cron cannot be run in a private mount namespace here";
    const json j = jobs_of(root);
    for (int i = 0; i < count; i++) {
        const line_case &c = k_lines[i];
        SCOPED_TRACE(std::string(c.line) + (c.system ? " (cron.d)" : " (user)"));
        const std::string source = c.system ? "/etc/cron.d/c" + std::to_string(i)
                                            : "/var/spool/cron/crontabs/u" + std::to_string(i);
        EXPECT_EQ(program_loads(j, source), ran(log, "m" + std::to_string(i))) << log;
    }
}

TEST(DaemonOracle, SpoolModesOwnersAndAccounts) {
    std::string root = make_node();
    struct spool_case {
        const char *user;
        int mode;
        int owner; // uid, -1 for the user's own
    };
    // daemon and bin are in every Debian passwd (uids 1 and 2).
    const spool_case cases[] = {
        {"root", 0600, 0}, {"daemon", 0600, -1}, {"bin", 0600, 1},
        {"sys", 0400, 0},  {"sync", 0644, 0},    {"nosuchuser", 0600, 0},
    };
    std::string passwd = read_file(root + "/etc/passwd");
    for (const auto &c : cases) {
        const std::string file = root + "/var/spool/cron/crontabs/" + c.user;
        write_file(file, std::string("@reboot echo s_") + c.user + "\n", c.mode);
        uid_t uid = 0;
        if (c.owner >= 0)
            uid = (uid_t)c.owner;
        else if (std::string(c.user) == "daemon")
            uid = 1;
        ASSERT_EQ(chown(file.c_str(), uid, 0), 0);
    }
    bool skip;
    const std::string log = cron_log(root, &skip);
    if (skip) GTEST_SKIP() << "cron cannot be run in a private mount namespace here";
    const json j = jobs_of(root);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.user);
        EXPECT_EQ(program_loads(j, std::string("/var/spool/cron/crontabs/") + c.user),
                  ran(log, std::string("s_") + c.user))
            << log;
    }
}

TEST(DaemonOracle, PercentEndsTheCommandCronRuns) {
    std::string root = make_node();
    write_file(root + "/etc/cron.d/pct", "@reboot root echo p1 %rest\n@reboot root echo p2 \\%x\n"
                                         "@reboot root cat > " +
                                             root + "/stdin.txt %hello%world\n");
    bool skip;
    const std::string log = cron_log(root, &skip);
    if (skip) GTEST_SKIP() << "cron cannot be run in a private mount namespace here";
    EXPECT_NE(log.find("CMD (["), std::string::npos) << log;
    // cron's CMD line shows what it runs: the first ends before the %.
    EXPECT_NE(log.find(" echo p1 )"), std::string::npos) << log;
    EXPECT_EQ(log.find("rest"), std::string::npos) << log;
    // The rest is the command's input, each further % a line end.
    EXPECT_EQ(read_file(root + "/stdin.txt"), "hello\nworld\n");
    const json j = jobs_of(root);
    const std::string cat = "cat > " + root + "/stdin.txt %hello%world";
    const std::pair<std::string, bool> expected[] = {
        {"echo p1 %rest", true}, {"echo p2 \\%x", false}, {cat, true}};
    for (const auto &[command, warned] : expected) {
        SCOPED_TRACE(command);
        bool found = false;
        for (const auto &job : j["jobs"])
            if (job["command"] == command) {
                found = true;
                bool has = false;
                for (const auto &w : job["warnings"])
                    has |= w.get<std::string>().rfind("unescaped % in the command", 0) == 0;
                EXPECT_EQ(has, warned);
            }
        EXPECT_TRUE(found);
    }
}
