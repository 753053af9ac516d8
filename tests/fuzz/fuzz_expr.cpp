// One expression: parse, describe and next-run search. The first eight bytes,
// when there are more than eight, are the search's current time.
#include <nlohmann/json.hpp>

#include "api/api.h"
#include "fuzz_util.h"

namespace {

std::string percent_encode(const std::string &s) {
    static const char k_hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : s) {
        out += '%';
        out += k_hex[c >> 4];
        out += k_hex[c & 15];
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    int64_t nows[2] = {1794458190, 0};
    int nnow = 1;
    if (size > 8) {
        memcpy(&nows[1], data, 8);
        nnow = 2;
        data += 8;
        size -= 8;
    }
    std::string text = c_text(data, size);
    cron_expr ce;
    memset(&ce, 0xa5, sizeof ce); // every field must be rewritten
    int rc = cron_parse(&ce, text.c_str());
    check_expr(ce, rc);
    FUZZ_CHECK(display_copy_of(ce.expr, sizeof ce.expr, text));

    // The verdict and the tables belong to the whole text: blanks around it
    // change nothing.
    if (text.size() + 3 <= CRON_TEXT_MAX) {
        cron_expr padded;
        cron_parse(&padded, (" " + text + "\t ").c_str());
        FUZZ_CHECK(padded.valid == ce.valid && strcmp(padded.error, ce.error) == 0);
        FUZZ_CHECK(memcmp(padded.minutes, ce.minutes, sizeof ce.minutes) == 0);
        FUZZ_CHECK(memcmp(padded.days_of_week, ce.days_of_week, sizeof ce.days_of_week) == 0);
        FUZZ_CHECK(strcmp(padded.description, ce.description) == 0);
    }

    // The explain answer, however the text was encoded, is valid UTF-8 JSON
    // with the parser's verdict.
    std::string query = "action=explain&expr=" + percent_encode(text);
    std::string answer = capture_stdout([&] { mode_json(query.c_str()); });
    size_t body = answer.find("\r\n\r\n");
    FUZZ_CHECK(body != std::string::npos);
    FUZZ_CHECK(valid_utf8(answer));
    nlohmann::json j = nlohmann::json::parse(answer.substr(body + 4));
    if (!text.empty()) FUZZ_CHECK(j["valid"] == (ce.valid == 1));

    if (ce.valid) {
        char again[CRON_DESCRIPTION_CAP];
        memset(again, 0x5a, sizeof again);
        cron_describe(&ce, again);
        FUZZ_CHECK(strcmp(again, ce.description) == 0);
    }
    for (int i = 0; i < nnow; i++) {
        int64_t runs[CRON_MAX_RUNS + 1];
        for (int64_t &r : runs) r = -7;
        int n = cron_next_runs(&ce, nows[i], runs);
        check_runs(ce, nows[i], runs, n);
        for (int k = n; k <= CRON_MAX_RUNS; k++) FUZZ_CHECK(runs[k] == -7);
    }
    return 0;
}
