// Warnings on jobs the node's scheduler runs otherwise than the file
// suggests. The program look-up is checked against sh's own command -v with
// the same PATH, on folders made here.
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "jobs/warnings.h"

namespace fs = std::filesystem;

namespace {

std::string make_dir() {
    char tmpl[] = "/tmp/zv_warn_XXXXXX";
    return mkdtemp(tmpl);
}

void put_program(const std::string &path, int mode) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path) << "#!/bin/sh\n";
    chmod(path.c_str(), (mode_t)mode);
}

// What sh says of the command's first word with PATH path: its path, or "".
std::string command_v(const std::string &word, const std::string &path) {
    std::string cmd = "env -i PATH='" + path + "' /bin/sh -c 'command -v " + word + "'";
    FILE *p = popen(cmd.c_str(), "r");
    char buf[1024] = "";
    if (!fgets(buf, sizeof buf, p)) buf[0] = 0;
    pclose(p);
    std::string out = buf;
    if (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

} // namespace

TEST(Warnings, UnescapedPercent) {
    const std::pair<const char *, int> cases[] = {
        {"date +%Y%m%d", 1},           {"date +\\%Y\\%m\\%d", 0}, {"echo done", 0},
        {"printf 'a %s' x", 1},        {"echo 100\\%", 0},        {"", 0},
        {"mail -s hi root %body%", 1},
    };
    for (const auto &[command, expected] : cases) {
        SCOPED_TRACE(command);
        EXPECT_EQ(has_unescaped_percent(command), expected);
    }
}

TEST(Warnings, ProgramAsShFindsItOnCronsPath) {
    const std::string dir = make_dir();
    const std::string on = dir + "/on", off = dir + "/usr/local/bin";
    put_program(on + "/zvtool", 0755);
    put_program(on + "/zvplain", 0644);
    put_program(dir + "/abs/zvrun", 0755);
    put_program(dir + "/abs/zvnoexec", 0644);
    const std::string path = on + ":/bin";
    struct {
        std::string command;
        std::string detail; // "" when found, or not for judging
        bool ask_sh;        // sh's command -v must agree on the first word
    } cases[] = {
        {"zvtool --all", "", true},
        {"FOO=1 BAR=2 zvtool", "", false},
        {"zvplain", "zvplain is not found on cron's PATH " + path, true},
        {"zvmissing > /dev/null 2>&1", "zvmissing is not found on cron's PATH " + path, true},
        {"sh -c true", "", true},
        {"cd /tmp && zvmissing", "", false},
        {"[ -x /x ] && y", "", false},
        {"if true; then x; fi", "", false},
        {"\"$HOME/bin/x\"", "", false},
        {"./relative", "", false},
        {dir + "/abs/zvrun -q", "", true},
        {dir + "/abs/zvnothere", dir + "/abs/zvnothere does not exist", true},
        // dash's command -v names an absolute path that exists, whatever
        // its mode; running it fails.
        {dir + "/abs/zvnoexec", dir + "/abs/zvnoexec is not executable", false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.command);
        char out[160];
        const int warned = program_warning(c.command.c_str(), path.c_str(), out, sizeof out);
        EXPECT_EQ(warned, !c.detail.empty());
        EXPECT_EQ(std::string(out), c.detail);
        if (c.ask_sh) {
            const std::string word = c.command.substr(0, c.command.find(' '));
            EXPECT_EQ(command_v(word, path).empty(), warned != 0);
        }
    }
}

TEST(Warnings, ProgramFoundOffCronsPathIsNamed) {
    // /bin/sh exists on every node: off a PATH that lacks its folder, it is
    // named where it is found.
    char out[160];
    ASSERT_EQ(program_warning("sh -c x", "/nonexistent", out, sizeof out), 1);
    EXPECT_TRUE(strstr(out, "sh is found in ") == out) << out;
    EXPECT_TRUE(strstr(out, ", which is not on cron's PATH /nonexistent")) << out;
    EXPECT_EQ(command_v("sh", "/nonexistent"), "");
}

TEST(Warnings, PathAndCronTzAssignments) {
    cron_env env;
    cron_env_start(&env);
    EXPECT_STREQ(env.path, "/usr/bin:/bin");
    for (const char *line : {"SHELL=/bin/sh", "PATH = /usr/local/bin:/usr/bin", "0 * * * * x"})
        cron_env_note(&env, line);
    EXPECT_STREQ(env.path, "/usr/local/bin:/usr/bin");
    EXPECT_EQ(env.cron_tz, 0);
    cron_env_note(&env, "CRON_TZ=Europe/Berlin");
    EXPECT_EQ(env.cron_tz, 1);
}

TEST(Warnings, TextsOfTheBits) {
    cron_job job;
    memset(&job, 0, sizeof job);
    strcpy(job.command, "backup.service");
    strcpy(job.warning_detail, "backup.timer");
    const std::pair<uint16_t, const char *> cases[] = {
        {WARN_UNIT_MISSING, "the unit to start, backup.service, does not exist"},
        {WARN_NOT_ENABLED, "not enabled: systemctl enable --now backup.timer starts it"},
        {WARN_NEVER, "never runs within the next 20 years: no date matches the schedule"},
    };
    for (const auto &[bit, text] : cases) {
        SCOPED_TRACE(text);
        char out[256];
        warning_text(&job, bit, out, sizeof out);
        EXPECT_STREQ(out, text);
    }
}

TEST(Warnings, TimersThatCanBeEnabled) {
    const std::pair<const char *, int> names[] = {
        {"fstrim.timer", 1},   {"pg_dump@.timer", 0}, {"pg_dump@main.timer", 1},
        {"fstrim.service", 0}, {".timer", 0},
    };
    for (const auto &[name, expected] : names) {
        SCOPED_TRACE(name);
        EXPECT_EQ(timer_may_be_disabled(name), expected);
    }
    const std::pair<const char *, int> units[] = {
        {"[Timer]\nOnCalendar=daily\n[Install]\nWantedBy=timers.target\n", 1},
        {"[Timer]\nOnCalendar=daily\n", 0},
        {"[Install]\n", 0},
        {"[Install]\nWantedBy=\n", 0},
        {"[Install]\nAlias=x.timer\n", 1},
        {"[Unit]\nWantedBy=timers.target\n", 0},
    };
    for (const auto &[text, expected] : units) {
        SCOPED_TRACE(text);
        EXPECT_EQ(unit_has_install(text, strlen(text)), expected);
    }
}
