// The HTML page: its head with and without the back link, the embed routing,
// and the whole document against a reviewed reference.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "runner.h"

namespace {

const std::string k_html_header = "Content-Type: text/html; charset=utf-8\r\n"
                                  "Cache-Control: no-store\r\n"
                                  "X-Content-Type-Options: nosniff\r\n"
                                  "\r\n";
const std::string k_doc_start =
    "<!DOCTYPE html>\n<html lang='en'><head><meta charset='utf-8'><meta name='viewport' "
    "content='width=device-width,initial-scale=1'><title>crontab</title>";
const std::string k_wrap = "<body><div class='wrap'>";
const std::string k_back_link = "<div class='top'><a href='/' "
                                "style='color:var(--accent);text-decoration:none;font-weight:600'>"
                                "&#8592; Back to Vorn</a></div>";
// html_body starts with the main landmark around the top bar.
const std::string k_body_start = "<main><div class='top'><h1 class='title'>crontab</h1>";

// The part written by html_head: everything before the top bar.
std::string head_of(const std::string &page) {
    size_t body = page.rfind(k_body_start);
    return body == std::string::npos ? "" : page.substr(0, body);
}

} // namespace

TEST(Page, HeadFixedParts) {
    EXPECT_EQ(k_html_header.size(), 100u);
    EXPECT_EQ(k_doc_start.size(), 149u);
    for (const char *query : {"", "embed=1"}) {
        SCOPED_TRACE(query);
        auto r = run_query(query);
        ASSERT_EQ(r.status, 0);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.out.substr(0, 249), k_html_header + k_doc_start);
        EXPECT_EQ(r.out.substr(249, 8), "<script>");
    }
}

TEST(Page, EmbedFlagDecidesTheBackLink) {
    const struct {
        const char *query;
        bool embedded;
    } cases[] = {
        {"embed=1", true},     {"embed=true", true}, {"node=web1&embed=1&pwd=x", true},
        {"embed=TRUE", false}, {"embed=yes", false}, {"embed=1x", false},
        {"embed=", false},     {"embed", false},     {"", false},
        {"xembed=1", false},   {"embed=%31", true},  {"embed=0&embed=1", false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.query);
        std::string head = head_of(run_query(c.query).out);
        std::string tail = c.embedded ? k_wrap : k_wrap + k_back_link;
        ASSERT_GE(head.size(), tail.size());
        EXPECT_EQ(head.substr(head.size() - tail.size()), tail);
        EXPECT_EQ(head.find(k_back_link) != std::string::npos, !c.embedded);
    }
}

TEST(Page, WholeDocumentMatchesReference) {
    const std::string expected = read_file(data_path("page.expected.html"));
    ASSERT_FALSE(expected.empty());
    EXPECT_ANSWER(run_query(""), expected);
    // Without QUERY_STRING at all, and whatever the clock and zone: fixed text.
    EXPECT_ANSWER(run_program({"TZ=Asia/Tokyo"}), expected);
    // Embedded: the same bytes without the back link.
    std::string embedded = expected;
    embedded.erase(embedded.find(k_back_link), k_back_link.size());
    EXPECT_ANSWER(run_query("embed=true&node=web1", {"CRONTAB_FILE=/nonexistent"}), embedded);
}
