#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <time.h>
#include <vector>

#include "jobs/history.h"
#include "jobs/journal.h"
#include "jobs/syslog.h"

namespace {

constexpr int64_t k_now = 1794458190; // 2026-11-12 04:36:30 UTC, a Thursday

TEST(HistoryRecords, LoggedCommandIsWhatCronWrites) {
    // The first three as Debian's cron 3.0pl1-162 logged them (-L 15).
    struct {
        const char *command, *logged;
    } cases[] = {
        {"echo 50\\% done % input", "echo 50% done "},
        {"sh -c 'exit 3'", "sh -c 'exit 3'"},
        {"sleep 2; kill -9 $$", "sleep 2; kill -9 $$"},
        {"printf 'a\tb'", "printf 'a^Ib'"},
        {"echo \xc3\xa9\x7f", "echo \\303\\251^?"},
        {"%", ""},
        {"a\\b", "a\\b"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.command);
        char out[64];
        EXPECT_EQ(cron_logged_command(c.command, out, sizeof out), 0);
        EXPECT_STREQ(out, c.logged);
    }
    char small[6];
    EXPECT_EQ(cron_logged_command("echo \xc3\xa9", small, sizeof small), 1);
    EXPECT_STREQ(small, "echo ");
}

TEST(HistoryRecords, CronMessages) {
    struct {
        const char *message;
        int kind;
        const char *user, *command, *detail;
        int64_t job_pid;
    } cases[] = {
        {"(root) CMD (true)", HIST_CRON_CMD, "root", "true", "", 0},
        {"(root) CMD ([25295] true)", HIST_CRON_CMD, "root", "[25295] true", "", 0},
        {"(root) END ([25295] true)", HIST_CRON_END, "root", "[25295] true", "", 0},
        {"(alice) CMDEND (x (y))", HIST_CRON_END, "alice", "x (y)", "", 0},
        {"(root) CMD (echo 50% done )", HIST_CRON_CMD, "root", "echo 50% done ", "", 0},
        {"(CRON) error (grandchild #5859 failed with exit status 3)", HIST_CRON_ERROR, "", "",
         "exit status 3", 5859},
        {"(CRON) error (grandchild #5858 terminated by signal 9)", HIST_CRON_ERROR, "", "",
         "killed by signal 9", 5858},
        {"(CRON) error (grandchild #5858 terminated by signal 9) ", HIST_NONE, "", "", "", 0},
        {"(CRON) INFO (pidfile fd = 3)", HIST_NONE, "", "", "", 0},
        {"(root) MAIL (mailed 1 byte of output; but got status 0x004b, #012)", HIST_NONE, "", "",
         "", 0},
        {"(root) CMD (true", HIST_NONE, "", "", "", 0},
        {"() CMD (true)", HIST_NONE, "", "", "", 0},
        {"pam_unix(cron:session): session opened for user root(uid=0) by (uid=0)", HIST_NONE, "",
         "", "", 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.message);
        hist_record r;
        EXPECT_EQ(hist_cron_message(c.message, strlen(c.message), &r), c.kind != HIST_NONE);
        EXPECT_EQ(r.kind, c.kind);
        if (c.kind == HIST_NONE) continue;
        EXPECT_STREQ(r.user, c.user);
        EXPECT_STREQ(r.command, c.command);
        EXPECT_STREQ(r.detail, c.detail);
        EXPECT_EQ(r.job_pid, c.job_pid);
    }
}

TEST(HistoryRecords, AZeroByteSpoilsAMessage) {
    static const char k_message[] = "(root) CMD (true\0 and more)";
    hist_record r;
    EXPECT_EQ(hist_cron_message(k_message, sizeof k_message - 1, &r), 0);
    EXPECT_EQ(r.kind, HIST_NONE);
}

TEST(HistoryRecords, SyslogLines) {
    setenv("TZ", "Europe/Berlin", 1);
    tzset();
    struct {
        const char *line;
        int64_t time; // 0: not a record
        int64_t pid;
    } cases[] = {
        // Local time, in the year of now; 04:30 in Berlin is 03:30Z.
        {"Nov 12 04:30:01 web1 CRON[5401]: (root) CMD (true)", k_now - 3989, 5401},
        {"Nov  2 04:30:01 web1 CROND[7]: (root) CMD (true)", k_now - 3989 - 10 * 86400, 7},
        // More than a day ahead: last year's.
        {"Dec 30 23:00:00 web1 CRON[1]: (root) CMD (true)", 1767132000, 1},
        {"2026-11-12T04:30:01.204518+01:00 web1 CRON[5401]: (root) CMD (true)", k_now - 3989, 5401},
        {"2026-11-12T03:30:01Z web1 CRON[5401]: (root) CMD (true)", k_now - 3989, 5401},
        {"2026-11-12T03:30:01 web1 CRON[5401]: (root) CMD (true)", 0, 0},
        {"Nov 12 04:30:01 web1 cron[5401]: (CRON) INFO (Running @reboot jobs)", 0, 0},
        {"Nov 12 04:30:01 web1 logger[5401]: (root) CMD (true)", 0, 0},
        {"Nov 12 04:30:01 web1 CRON: (root) CMD (true)", 0, 0},
        {"Nov 12 24:30:01 web1 CRON[1]: (root) CMD (true)", 0, 0},
        {"Foo 12 04:30:01 web1 CRON[1]: (root) CMD (true)", 0, 0},
        {"Nov 12 04:30:01  CRON[1]: (root) CMD (true)", 0, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.line);
        hist_record r;
        int got = syslog_line(c.line, strlen(c.line), k_now, &r);
        EXPECT_EQ(got, c.time != 0);
        if (!got) continue;
        EXPECT_EQ(r.time, c.time);
        EXPECT_EQ(r.pid, c.pid);
        EXPECT_STREQ(r.command, "true");
    }
    setenv("TZ", "UTC", 1);
    tzset();
}

void keep(const hist_record *r, void *ctx) {
    static_cast<std::vector<hist_record> *>(ctx)->push_back(*r);
}

journal_parser g_parser;

std::vector<hist_record> parse_export(const std::string &text, size_t piece) {
    std::vector<hist_record> out;
    journal_parser_init(&g_parser);
    for (size_t i = 0; i < text.size(); i += piece)
        journal_feed(&g_parser, text.data() + i, std::min(piece, text.size() - i), keep, &out);
    journal_finish(&g_parser);
    return out;
}

TEST(HistoryRecords, JournalExportRecords) {
    const std::string binary_message = std::string("MESSAGE\n") +
                                       std::string("\x12\0\0\0\0\0\0\0", 8) +
                                       "(root) CMD (a\nb x)" + "\n";
    struct {
        const char *name;
        std::string text;
        int kind;
        const char *what; // unit or command
    } cases[] = {
        {"systemd's own",
         "__REALTIME_TIMESTAMP=1794458000000000\n_PID=1\n_UID=0\nMESSAGE_ID="
         "7ad2d189f7e94e70a38c781354912448\nUNIT=a.service\n\n",
         HIST_UNIT_SUCCESS, "a.service"},
        {"another pid",
         "__REALTIME_TIMESTAMP=1794458000000000\n_PID=12\n_UID=0\nMESSAGE_ID="
         "7ad2d189f7e94e70a38c781354912448\nUNIT=a.service\n\n",
         HIST_NONE, ""},
        {"two pids",
         "__REALTIME_TIMESTAMP=1794458000000000\n_PID=1\n_PID=1\n_UID=0\nMESSAGE_ID="
         "7ad2d189f7e94e70a38c781354912448\nUNIT=a.service\n\n",
         HIST_NONE, ""},
        {"no unit named",
         "__REALTIME_TIMESTAMP=1794458000000000\n_PID=1\n_UID=0\nMESSAGE_ID="
         "7ad2d189f7e94e70a38c781354912448\nUNIT=\n\n",
         HIST_NONE, ""},
        {"unknown id",
         "__REALTIME_TIMESTAMP=1794458000000000\n_PID=1\n_UID=0\nMESSAGE_ID="
         "7ad2d189f7e94e70a38c781354912449\nUNIT=a.service\n\n",
         HIST_NONE, ""},
        {"cron",
         "__REALTIME_TIMESTAMP=1794458000000000\n_PID=5\n_UID=0\n_COMM=cron\nMESSAGE="
         "(root) CMD (true)\n\n",
         HIST_CRON_CMD, "true"},
        {"cronie",
         "__REALTIME_TIMESTAMP=1794458000000000\n_PID=5\n_UID=0\n_COMM=crond\nMESSAGE="
         "(root) CMD (true)\n\n",
         HIST_CRON_CMD, "true"},
        {"logger",
         "__REALTIME_TIMESTAMP=1794458000000000\n_PID=5\n_UID=0\n_COMM=logger\nMESSAGE="
         "(root) CMD (true)\n\n",
         HIST_NONE, ""},
        {"a user's cron",
         "__REALTIME_TIMESTAMP=1794458000000000\n_PID=5\n_UID=1000\n_COMM=cron\n"
         "MESSAGE=(root) CMD (true)\n\n",
         HIST_NONE, ""},
        {"binary message",
         "__REALTIME_TIMESTAMP=1794458000000000\n_PID=5\n_UID=0\n_COMM=cron\n" + binary_message +
             "\n",
         HIST_CRON_CMD, "a\nb x"},
        {"not ended",
         "__REALTIME_TIMESTAMP=1794458000000000\n_PID=5\n_UID=0\n_COMM=cron\nMESSAGE="
         "(root) CMD (true)\n",
         HIST_NONE, ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        for (size_t piece : {c.text.size(), (size_t)1, (size_t)7}) {
            auto got = parse_export(c.text, piece);
            ASSERT_EQ(got.size(), c.kind != HIST_NONE ? 1u : 0u);
            if (got.empty()) continue;
            EXPECT_EQ(got[0].kind, c.kind);
            EXPECT_EQ(got[0].time, 1794458000);
            EXPECT_EQ(std::string(c.kind == HIST_CRON_CMD ? got[0].command : got[0].unit), c.what);
        }
    }
}

} // namespace

namespace {

void add(const char *kind, const char *user, const char *command, const char *unit) {
    cron_job *j = add_job();
    strcpy(j->kind, kind);
    strcpy(j->user, user);
    strcpy(j->command, command);
    strcpy(j->unit, unit);
    strcpy(j->timer, "x.timer");
}

struct last_seen {
    int64_t time;
    std::string outcome, detail;
    bool operator==(const last_seen &o) const {
        return time == o.time && outcome == o.outcome && detail == o.detail;
    }
};

std::vector<last_seen> lasts() {
    std::vector<last_seen> out;
    for (int i = 0; i < g_job_count; i++)
        out.push_back({g_jobs[i].last_from[0] ? g_jobs[i].last_time : -1, g_jobs[i].last_outcome,
                       g_jobs[i].last_detail});
    return out;
}

} // namespace

// The journal is read newest first, text logs oldest first: on the same
// records both ways of matching give every job the same last run.
TEST(HistoryRecords, NewestFirstAgreesWithOldestFirst) {
    FILE *f = fopen(ZV_DATA_DIR "/history/journal.export", "rb");
    ASSERT_NE(f, nullptr);
    std::string text;
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, f)) > 0;) text.append(buf, n);
    fclose(f);
    auto records = parse_export(text, 4096);
    ASSERT_GT(records.size(), 20u);

    jobs_reset();
    for (const char *unit : {"logrotate.service", "apt-daily.service", "certbot.service",
                             "e2scrub_all.service", "sysstat-collect.service"})
        add("timer", "root", unit, unit);
    add("cron", "root", "/usr/local/bin/backup --full", "");
    add("cron", "root", "/usr/local/bin/report 50\\% done % input", "");
    add("cron", "www-data", "php /var/www/cron.php", "");
    add("cron", "root", "/usr/local/bin/sync-mirror", "");

    history_begin();
    for (const auto &r : records) history_apply(&r, "journal");
    auto oldest_first = lasts();
    history_begin();
    for (auto r = records.rbegin(); r != records.rend(); ++r) history_apply_newest(&*r, "journal");
    history_finish_newest("journal");
    auto newest_first = lasts();
    ASSERT_EQ(oldest_first.size(), newest_first.size());
    for (size_t i = 0; i < oldest_first.size(); i++) {
        SCOPED_TRACE(g_jobs[i].command);
        EXPECT_EQ(oldest_first[i].time, newest_first[i].time);
        EXPECT_EQ(oldest_first[i].outcome, newest_first[i].outcome);
        EXPECT_EQ(oldest_first[i].detail, newest_first[i].detail);
    }
    EXPECT_EQ(newest_first[1].detail, "exit status 100");
    EXPECT_EQ(newest_first[5].outcome, "failed");
    EXPECT_EQ(newest_first[6].outcome, "succeeded");
    EXPECT_EQ(newest_first[8].time, -1);
    // sysstat-collect has forged records only, sync-mirror one a byte off.
    EXPECT_EQ(history_unresolved(), 2);
}
