// Command-line options, the descriptor switch and request routing.
#include <gtest/gtest.h>

#include "runner.h"

namespace {
const std::string k_meta = "{\"name\":\"crontab\",\"desc\":\"Cron jobs\"}\n";
const std::string k_help =
    "zovuza_vuruvuz 1.0.1\n"
    "usage: zovuza_vuruvuz [--meta|--version|--help]\n"
    "       QUERY_STRING='action=jobs'          zovuza_vuruvuz\n"
    "       QUERY_STRING='action=explain&expr=*/15 * * * *' zovuza_vuruvuz\n"
    "Strictly read-only: never writes a crontab, never runs a scheduled command.\n";
const std::string k_unknown = k_json_header + "{\"ok\":false,\"error\":\"unknown action\"}\n";
const std::string k_page_header = "Content-Type: text/html; charset=utf-8\r\n"
                                  "Cache-Control: no-store\r\n"
                                  "X-Content-Type-Options: nosniff\r\n"
                                  "\r\n";
} // namespace

TEST(Options, EachOptionWritesItsExactBytes) {
    const struct {
        std::vector<std::string> args;
        std::string out;
    } cases[] = {
        {{"--meta"}, k_meta},
        {{"--version"}, "1.0.1\n"},
        {{"--help"}, k_help},
        {{"--version", "--help"}, "1.0.1\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.args[0]);
        EXPECT_EQ(k_meta.size(), 38u);
        auto r = run_program(base_env(), c.args);
        EXPECT_ANSWER(r, c.out);
        // Options need no password, and come before the descriptor switch.
        auto env = base_env();
        env.push_back("VORN_PASSWORD=secret");
        env.push_back("QZ_PLUGIN_META=1");
        auto guarded = run_program(env, c.args);
        EXPECT_ANSWER(guarded, c.args[0] == "--meta" ? k_meta : c.out);
    }
}

TEST(Options, LookalikeArgumentsAreIgnored) {
    for (const char *arg : {"--meta=1", "--Meta", "-meta", "--versions", ""}) {
        SCOPED_TRACE(arg);
        auto env = base_env();
        env.push_back("QUERY_STRING=action=nope");
        auto r = run_program(env, {arg});
        EXPECT_ANSWER(r, k_unknown);
    }
}

TEST(Descriptor, PresenceOfTheSwitchAloneSelectsIt) {
    for (const char *value : {"", "0", "anything"}) {
        SCOPED_TRACE(value);
        auto env = base_env();
        env.push_back(std::string("QZ_PLUGIN_META=") + value);
        env.push_back("VORN_PASSWORD=secret");
        env.push_back("QUERY_STRING=action=info");
        EXPECT_ANSWER(run_program(env), k_meta);
    }
}

TEST(Routing, RawSubstringsSelectTheJsonApi) {
    for (const char *query :
         {"action=nope", "embed=1&format=json&action=Explain", "action=JOBS", "action=Info"}) {
        SCOPED_TRACE(query);
        EXPECT_ANSWER(run_query(query), k_unknown);
    }
    // No action parameter by its whole name: the jobs answer.
    for (const char *query : {"format=json", "q=format=jsonp", "xaction=explain&expr=1"}) {
        SCOPED_TRACE(query);
        auto r = run_query(query, {"CRONTAB_FILE=/nonexistent/crontab"});
        EXPECT_EQ(json_body(r).substr(0, 27), "{\"ok\":true,\"action\":\"jobs\",");
    }
}

TEST(Routing, EverythingElseGetsThePage) {
    for (const char *query : {"", "embed=1", "format=html", "actio=n"}) {
        SCOPED_TRACE(query);
        auto r = run_query(query);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.out.substr(0, k_page_header.size()), k_page_header);
    }
    auto r = run_program(base_env()); // no QUERY_STRING at all
    EXPECT_EQ(r.out.substr(0, k_page_header.size()), k_page_header);
}
