// The node password: its three carriers and the 401 answer.
#include <gtest/gtest.h>

#include "runner.h"

namespace {

const std::string k_401 = "Status: 401 Unauthorized\r\n"
                          "Content-Type: application/json; charset=utf-8\r\n"
                          "Cache-Control: no-store\r\n"
                          "X-Content-Type-Options: nosniff\r\n"
                          "\r\n"
                          "{\"ok\":false,\"error\":\"invalid node password\"}\n";
const std::string k_info_query = "action=info";

bool allowed(const std::string &password, const std::string &query,
             std::vector<std::string> carriers) {
    if (!password.empty() || !carriers.empty()) carriers.push_back("VORN_PASSWORD=" + password);
    auto r = run_query(query, carriers);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    return r.out != k_401;
}

} // namespace

TEST(NodeAuth, The401AnswerIsExact) {
    EXPECT_EQ(k_401.size(), 178u);
    EXPECT_ANSWER(run_query("action=info", {"VORN_PASSWORD=pw"}), k_401);
    // The page is guarded like the API.
    EXPECT_ANSWER(run_query("", {"VORN_PASSWORD=pw"}), k_401);
    EXPECT_ANSWER(run_query("embed=1", {"VORN_PASSWORD=pw", "HTTP_X_VORN_PASSWORD=nope"}), k_401);
    EXPECT_ANSWER(run_program({"TZ=UTC", "VORN_PASSWORD=pw"}), k_401);
}

TEST(NodeAuth, Carriers) {
    const std::string pw = "s3cr+t&=%zz";
    const struct {
        const char *name;
        std::string query;
        std::vector<std::string> env;
        bool ok;
    } cases[] = {
        {"no password configured", "action=info", {"HTTP_X_VORN_PASSWORD=whatever"}, true},
        {"header exact", "action=info", {"HTTP_X_VORN_PASSWORD=" + pw}, true},
        {"header trailing space", "action=info", {"HTTP_X_VORN_PASSWORD=" + pw + " "}, false},
        {"header empty", "action=info", {"HTTP_X_VORN_PASSWORD="}, false},
        {"header wrong, bearer right",
         "action=info",
         {"HTTP_X_VORN_PASSWORD=x", "HTTP_AUTHORIZATION=Bearer " + pw},
         true},
        {"bearer padded", "action=info", {"HTTP_AUTHORIZATION=  Bearer    " + pw}, true},
        {"bearer lower case", "action=info", {"HTTP_AUTHORIZATION=bearer " + pw}, false},
        {"bearer tab", "action=info", {"HTTP_AUTHORIZATION=Bearer\t" + pw}, false},
        {"bearer trailing space", "action=info", {"HTTP_AUTHORIZATION=Bearer " + pw + " "}, false},
        {"basic", "action=info", {"HTTP_AUTHORIZATION=Basic " + pw}, false},
        {"leading tab", "action=info", {"HTTP_AUTHORIZATION=\tBearer " + pw}, false},
        {"pwd encoded", "action=info&pwd=s3cr%2Bt%26=%zz", {}, true},
        {"pwd with raw plus", "action=info&pwd=s3cr+t%26=%zz", {}, false},
        {"pwd with raw ampersand", "pwd=s3cr%2Bt&=%zz&action=info", {}, false},
        {"second pwd right", "action=info&pwd=x&pwd=s3cr%2Bt%26=%zz", {}, false},
        {"pwd wrong, header right", "action=info&pwd=x", {"HTTP_X_VORN_PASSWORD=" + pw}, true},
        {"page with pwd", "pwd=s3cr%2Bt%26%3D%25zz", {}, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        std::string password = std::string(c.name) == "no password configured" ? "" : pw;
        EXPECT_EQ(allowed(password, c.query, c.env), c.ok);
    }
    EXPECT_TRUE(allowed("", "action=info", {})); // VORN_PASSWORD absent
    EXPECT_TRUE(run_query("action=info", {"VORN_PASSWORD="}).out != k_401);
}

TEST(NodeAuth, PasswordTooLongForTheQueryStillWorksInHeaders) {
    const std::string pw(200, '+'); // 600 bytes encoded as %2B
    std::string encoded;
    for (size_t i = 0; i < pw.size(); i++) encoded += "%2B";
    EXPECT_FALSE(allowed(pw, "action=info&pwd=" + encoded, {}));
    EXPECT_TRUE(allowed(pw, "action=info", {"HTTP_X_VORN_PASSWORD=" + pw}));
    EXPECT_TRUE(allowed(pw, "action=info", {"HTTP_AUTHORIZATION=Bearer " + pw}));
    const std::string short_pw(85, '+'); // 255 bytes encoded: still fits
    std::string short_enc;
    for (size_t i = 0; i < short_pw.size(); i++) short_enc += "%2B";
    EXPECT_TRUE(allowed(short_pw, "action=info&pwd=" + short_enc, {}));
}
