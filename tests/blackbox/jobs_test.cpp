// The jobs answer from a crontab fixture and from the task list, and the
// info and unknown-action answers.
#include <fstream>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

#include "runner.h"

using nlohmann::json;

namespace {

const std::string k_jobs_start =
    "{\"ok\":true,\"action\":\"jobs\",\"plugin\":\"zovuza_vuruvuz\",\"version\":\"1.0.1\","
    "\"now_utc\":\"2026-11-12T04:36:30Z\",\"now_local\":\"2026-11-12 04:36\",";
const std::string k_no_jobs =
    k_jobs_start + "\"count\":0,\"truncated\":false,\"sources\":[],\"jobs\":[]}\n";

std::string jobs_body(const std::string &crontab_text, const std::string &query = "action=jobs") {
    auto r = run_query(query, {"CRONTAB_FILE=" + write_temp(crontab_text)});
    return json_body(r);
}

// A directory holding a fake schtasks that prints the given output (and, as
// a first task, the arguments it was started with). The Windows build gets
// the same behaviour from a copy of the schtasks.exe named by ZV_FAKE_SCHTASKS.
std::string fake_schtasks(const std::string &output) {
    std::string dir = make_temp_dir();
    std::string out_path = dir + "/output.csv";
    std::ofstream(out_path, std::ios::binary) << output;
    if (program_is_windows()) {
        const char *exe = getenv("ZV_FAKE_SCHTASKS");
        if (!exe) ADD_FAILURE() << "ZV_FAKE_SCHTASKS names no fake schtasks.exe";
        std::ofstream(dir + "/schtasks.exe", std::ios::binary)
            << std::ifstream(exe ? exe : "/nonexistent", std::ios::binary).rdbuf();
        return dir;
    }
    std::string script = dir + "/schtasks";
    std::ofstream(script) << "#!/bin/sh\nprintf '\"\\\\Args\",\"%s\",\"Ready\"\\r\\n' \"$*\"\n"
                          << "cat '" << out_path << "'\necho 'a message on stderr' >&2\n";
    chmod(script.c_str(), 0755);
    return dir;
}

// The environment entries that put dir first on the command search path; wine
// takes its search path from WINEPATH, never from PATH.
std::vector<std::string> search_path(const std::string &dir) {
    std::vector<std::string> env = {"PATH=" + dir + ":/usr/bin:/bin"};
    if (program_is_windows()) env.push_back("WINEPATH=" + dir);
    return env;
}

std::string tasks_body(const std::string &output, const std::string &crontab_env = "") {
    std::vector<std::string> env = search_path(fake_schtasks(output));
    if (!crontab_env.empty()) env.push_back(crontab_env);
    return json_body(run_query_without_timers("action=jobs", env));
}

} // namespace

TEST(JobsAnswer, FixtureMatchesTheReviewedReference) {
    auto r = run_query("action=jobs", {"CRONTAB_FILE=" + data_path("mixed.crontab")});
    std::string body = json_body(r);
    EXPECT_EQ(body, read_file(data_path("mixed.expected.json")));
    json j = json::parse(body);
    EXPECT_EQ(j["count"], 9);
    for (const auto &job : j["jobs"]) EXPECT_EQ(job.contains("error"), job["valid"] == false);
}

TEST(JobsAnswer, ListEmptyActionAndFormatJsonAreTheJobsAnswer) {
    std::string reference = jobs_body("* * * * * x\n");
    for (const char *q : {"action=list", "action=", "format=json", "format=json&action=jobs"}) {
        SCOPED_TRACE(q);
        EXPECT_EQ(jobs_body("* * * * * x\n", q), reference);
    }
}

TEST(JobsAnswer, NoReadableSource) {
    for (const char *file : {"CRONTAB_FILE=/nonexistent/crontab", "CRONTAB_FILE=/tmp"}) {
        SCOPED_TRACE(file);
        // The task list is not tried when the fixture cannot be read.
        auto env = search_path(fake_schtasks("\"\\T\",\"N/A\",\"Ready\"\n"));
        env.push_back(file);
        EXPECT_ANSWER(run_query("action=jobs", env), k_json_header + k_no_jobs);
    }
    EXPECT_EQ(jobs_body("# only comments\n\nMAILTO=x\n   \n"), k_no_jobs);
    EXPECT_EQ(jobs_body(""), k_no_jobs);
    // No schtasks command anywhere (under wine: its own, which lists nothing),
    // or on POSIX a node without cron files and without crontab: an empty list
    // and nothing on stderr.
    for (const char *unset : {"", "CRONTAB_FILE="}) {
        SCOPED_TRACE(unset);
        auto env = base_env();
        env.push_back("QUERY_STRING=action=jobs");
        env.push_back("PATH=/nonexistent");
        if (unset[0]) env.push_back(unset);
        EXPECT_ANSWER(program_is_windows() ? run_program(env) : run_in_tree(make_temp_dir(), env),
                      k_json_header + k_no_jobs);
    }
}

TEST(JobsAnswer, CrLfFileReadsLikeLfFile) {
    std::string lf = read_file(data_path("mixed.crontab")), crlf;
    for (char c : lf) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    EXPECT_EQ(jobs_body(crlf), jobs_body(lf));
}

// The rest of a line past the 2047-byte buffer is dropped: it never starts a
// job of its own, whatever it holds.
TEST(JobsAnswer, OverlongLineNeverStartsAPhantomJob) {
    std::string first = "0 3 * * * /bin/echo " + std::string(2047 - 20, 'x'); // 2047 characters
    json j = json::parse(jobs_body(first + "*/5 * * * * rm -rf /tmp/phantom\n0 0 * * * next\n"));
    ASSERT_EQ(j["count"], 2);
    EXPECT_EQ(j["jobs"][0]["expr"], "0 3 * * *");
    EXPECT_EQ(j["jobs"][0]["command"].get<std::string>(), "/bin/echo " + std::string(501, 'x'));
    EXPECT_EQ(j["jobs"][1]["command"], "next");
}

TEST(JobsAnswer, TableHolds512Jobs) {
    std::string text;
    for (int i = 0; i < 512; i++) text += "* * * * * job" + std::to_string(i) + "\n";
    json full = json::parse(jobs_body(text));
    EXPECT_EQ(full["count"], 512);
    EXPECT_EQ(full["truncated"], false);
    json over = json::parse(jobs_body(text + "* * * * * job512\n61 * * * * job513\n"));
    EXPECT_EQ(over["count"], 512);
    EXPECT_EQ(over["truncated"], true);
    EXPECT_EQ(over["jobs"].size(), 512u);
    EXPECT_EQ(over["jobs"][511]["command"], "job511");
    EXPECT_EQ(over["sources"], json::array({"fixture"}));
}

// A POSIX build lists the node's cron files instead (live_test.cpp).
#define WINDOWS_ONLY()                                                                             \
    if (!program_is_windows()) GTEST_SKIP() << "only the Windows build lists the task list"

TEST(JobsAnswer, TaskList) {
    WINDOWS_ONLY();
    const std::string output =
        "\r\n"
        "INFO: a message line without commas\r\n"
        "\"TaskName\",\"Next Run Time\",\"Status\"\r\n"
        "\"\\Maintenance\\NightlyReport\",\"10/12/2026 3:00:00 AM\",\"Ready\"\r\n"
        "\"\\Old\",\"N/A\",\"Disabled\"\r\n"
        "\"\\Backup\",\"11/12/2026 1:00:00 AM\"\r\n"
        ",\"x\",\"y\"\r\n"
        "\"a\"\"b\",\"c\",\"d\"\r\n"
        "\"ctl\x01\",\"\",\"\"\r\n";
    const std::string expected =
        k_jobs_start +
        "\"count\":6,\"truncated\":false,\"sources\":[\"schtasks\"],\"jobs\":["
        "{\"source\":\"schtasks\",\"kind\":\"task\",\"expr\":\"task\",\"command\":\"\\\\Args\","
        "\"user\":\"\",\"valid\":true,\"description\":\"Ready - next /Query /FO CSV "
        "/NH\",\"next\":[]},"
        "{\"source\":\"schtasks\",\"kind\":\"task\",\"expr\":\"task\",\"command\":"
        "\"\\\\Maintenance\\\\NightlyReport\",\"user\":\"\",\"valid\":true,\"description\":"
        "\"Ready - next 10/12/2026 3:00:00 AM\",\"next\":[]},"
        "{\"source\":\"schtasks\",\"kind\":\"task\",\"expr\":\"task\",\"command\":\"\\\\Old\","
        "\"user\":\"\",\"valid\":true,\"description\":\"Disabled\",\"next\":[]},"
        "{\"source\":\"schtasks\",\"kind\":\"task\",\"expr\":\"task\",\"command\":\"\\\\Backup\","
        "\"user\":\"\",\"valid\":true,\"description\":\"Scheduled Windows task - next 11/12/2026 "
        "1:00:00 AM\",\"next\":[]},"
        "{\"source\":\"schtasks\",\"kind\":\"task\",\"expr\":\"task\",\"command\":\"a\","
        "\"user\":\"\",\"valid\":true,\"description\":\"c - next b\",\"next\":[]},"
        "{\"source\":\"schtasks\",\"kind\":\"task\",\"expr\":\"task\",\"command\":\"ctl\\u0001\","
        "\"user\":\"\",\"valid\":true,\"description\":\"Scheduled Windows task\",\"next\":[]}"
        "]}\n";
    EXPECT_EQ(tasks_body(output), expected);
    EXPECT_EQ(tasks_body(output, "CRONTAB_FILE="), expected);
}

TEST(JobsAnswer, TaskListOf600LinesIsTruncated) {
    WINDOWS_ONLY();
    std::string output;
    for (int i = 0; i < 600; i++)
        output += "\"\\T" + std::to_string(i) + "\",\"N/A\",\"Ready\"\r\n";
    json j = json::parse(tasks_body(output));
    EXPECT_EQ(j["count"], 512);
    EXPECT_EQ(j["truncated"], true);
    EXPECT_EQ(j["jobs"][511]["command"], "\\T510"); // the first task is the arguments line
}

TEST(JobsAnswer, OverlongTaskLineNeverStartsATask) {
    WINDOWS_ONLY();
    std::string first = "\"\\Long\",\"N/A\",\"" + std::string(2030, 'r');
    json j = json::parse(tasks_body(first + "\"\\Phantom\",\"N/A\",\"Ready\"\r\n"));
    ASSERT_EQ(j["count"], 2); // the arguments line, then \Long
    EXPECT_EQ(j["jobs"][1]["command"], "\\Long");
}

// A task list that never ends is cut at the time limit: what was read is
// listed, and truncated says that input was left unread.
TEST(JobsAnswer, TaskListThatNeverEndsIsCut) {
    WINDOWS_ONLY();
    std::string dir = fake_schtasks("\"\\T\",\"N/A\",\"Ready\"\r\n");
    std::ofstream(dir + "/hang") << "";
    json j = json::parse(json_body(run_query("action=jobs", search_path(dir))));
    EXPECT_EQ(j["count"], 2);
    EXPECT_EQ(j["truncated"], true);
}

// The info answer names what this build reads: the task list on Windows, the
// cron files and the systemd unit folders elsewhere.
TEST(OtherActions, InfoAndUnknownAreFixedTexts) {
    const std::string sources =
        program_is_windows()
            ? "\"CRONTAB_FILE\",\"schtasks /Query /FO CSV /NH\""
            : "\"CRONTAB_FILE\",\"/var/spool/cron/crontabs\",\"/var/spool/cron\","
              "\"/usr/lib/cron/tabs\",\"/etc/crontabs\",\"crontab -l\",\"/etc/crontab\","
              "\"/etc/cron.d\",\"run-parts folders\",\"/run/systemd/transient\","
              "\"/etc/systemd/system\",\"/run/systemd/system\",\"/usr/local/lib/systemd/system\","
              "\"/lib/systemd/system\",\"/usr/lib/systemd/system\"";
    const std::string info =
        "{\"ok\":true,\"action\":\"info\",\"plugin\":\"zovuza_vuruvuz\",\"name\":\"crontab\","
        "\"version\":\"1.0.1\",\"desc\":\"Cron jobs\",\"read_only\":true,\"actions\":[\"jobs\","
        "\"explain\",\"info\"],\"params\":{\"expr\":\"cron expression or @keyword; explain "
        "only\"},\"sources\":[" +
        sources +
        "],\"about\":\"Lists the jobs scheduled on this node, each with a description and its next "
        "five runs, in UTC and local\"}\n";
    if (program_is_windows()) { EXPECT_EQ(info.size(), 394u); }
    EXPECT_ANSWER(run_query("action=info"), k_json_header + info);
    EXPECT_TRUE(json::accept(info));
    const std::string unknown = "{\"ok\":false,\"error\":\"unknown action\"}\n";
    EXPECT_EQ(unknown.size(), 38u);
    for (const char *q : {"action=JOBS", "action=Info", "action=jobs2", "action=%6Aobs+"}) {
        SCOPED_TRACE(q);
        EXPECT_ANSWER(run_query(q), k_json_header + unknown);
    }
    EXPECT_ANSWER(run_query("action=%6Aobs", {"CRONTAB_FILE=/nonexistent"}),
                  k_json_header + k_no_jobs);
}

// On Windows the task list arrives in the console's OEM code page (CP850 on a
// French node: 0x82 is "é", 0x88 "ê"); the answer carries it as UTF-8.
TEST(JobsAnswer, TaskListIsReadInTheOemCodePage) {
    if (!program_is_windows()) GTEST_SKIP() << "a POSIX task list is not converted";
    std::vector<std::string> env =
        search_path(fake_schtasks("\"\\Sauvegarde r\x82seau\",\"N/A\",\"Pr\x88t\"\r\n"));
    env.push_back("LANG=fr_FR.UTF-8");
    env.push_back("LC_ALL=fr_FR.UTF-8");
    json j = json::parse(json_body(run_query("action=jobs", env)));
    ASSERT_EQ(j["count"], 2);
    EXPECT_EQ(j["jobs"][1]["command"], "\\Sauvegarde r\xc3\xa9seau");
    EXPECT_EQ(j["jobs"][1]["description"], "Pr\xc3\xaat");
}

// Every answer is valid UTF-8: a Latin-1 byte is read as the character of the
// same value, and a command cut at its capacity keeps whole characters only.
TEST(JobsAnswer, AnswersAreValidUtf8WhateverTheBytes) {
    const std::string cut_command = std::string(510, 'x') + "\xc3\xa9\xc3\xa9";
    const std::string body = jobs_body("0 3 * * * echo caf\xe9\n0 4 * * * " + cut_command +
                                       "\n0 5 * * * echo \xe2\x82\xac\n");
    json j = json::parse(body); // strict: throws on invalid UTF-8
    EXPECT_EQ(j["jobs"][0]["command"], "echo caf\xc3\xa9");
    EXPECT_NE(body.find("echo caf\\u00e9"), std::string::npos);
    EXPECT_EQ(j["jobs"][1]["command"], std::string(510, 'x'));
    EXPECT_EQ(j["jobs"][2]["command"], "echo \xe2\x82\xac");
}
