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

std::string read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

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
    // No schtasks command anywhere (under wine: its own, which lists nothing):
    // an empty list and nothing on stderr.
    EXPECT_ANSWER(run_query_without_timers("action=jobs", {"PATH=/nonexistent"}),
                  k_json_header + k_no_jobs);
    EXPECT_ANSWER(run_query_without_timers("action=jobs", {"CRONTAB_FILE=", "PATH=/nonexistent"}),
                  k_json_header + k_no_jobs);
}

TEST(JobsAnswer, CrLfFileReadsLikeLfFile) {
    std::string lf = read_file(data_path("mixed.crontab")), crlf;
    for (char c : lf) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    EXPECT_EQ(jobs_body(crlf), jobs_body(lf));
}

TEST(JobsAnswer, OverlongLineArrivesInPieces) {
    std::string first = "* * * * * " + std::string(2037, 'a');      // 2047 characters
    std::string rest = "0 0 * * * second " + std::string(936, 'b'); // 953 characters
    json j = json::parse(jobs_body(first + rest + "\n"));
    ASSERT_EQ(j["count"], 2);
    EXPECT_EQ(j["jobs"][0]["command"].get<std::string>(), std::string(511, 'a'));
    EXPECT_EQ(j["jobs"][1]["expr"], "0 0 * * *");
    EXPECT_EQ(j["jobs"][1]["command"].get<std::string>().substr(0, 8), "second b");
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

TEST(JobsAnswer, TaskList) {
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
    std::string output;
    for (int i = 0; i < 600; i++)
        output += "\"\\T" + std::to_string(i) + "\",\"N/A\",\"Ready\"\r\n";
    json j = json::parse(tasks_body(output));
    EXPECT_EQ(j["count"], 512);
    EXPECT_EQ(j["truncated"], true);
    EXPECT_EQ(j["jobs"][511]["command"], "\\T510"); // the first task is the arguments line
}

TEST(OtherActions, InfoAndUnknownAreFixedTexts) {
    const std::string info =
        "{\"ok\":true,\"action\":\"info\",\"plugin\":\"zovuza_vuruvuz\",\"name\":\"crontab\","
        "\"version\":\"1.0.1\",\"desc\":\"Cron jobs\",\"read_only\":true,\"actions\":[\"jobs\","
        "\"explain\",\"info\"],\"params\":{\"expr\":\"cron expression or @keyword; explain "
        "only\"},\"sources\":[\"CRONTAB_FILE\",\"schtasks /Query /FO CSV /NH\"],\"about\":\"Lists "
        "the jobs scheduled on this node, each with a description and its next five runs, in UTC "
        "and local\"}\n";
    EXPECT_EQ(info.size(), 394u);
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
