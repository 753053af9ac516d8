// One expression: parse, describe and next-run search. The first eight bytes,
// when there are more than eight, are the search's current time.
#include "fuzz_util.h"

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
    FUZZ_CHECK(strncmp(ce.expr, text.c_str(), 127) == 0);

    if (ce.valid) {
        char again[224];
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
