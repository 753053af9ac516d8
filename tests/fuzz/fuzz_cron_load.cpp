// The daemon's verdict on one crontab line, on fuzzed text: the first byte
// picks the layout, the flavor and whether the line has its line end, the
// rest (up to a LF or a zero byte) is the line. Whatever the line, the
// reason is terminated and said exactly when the file is refused; blank and
// comment lines never refuse it; a line end never makes a line worse, nor a
// known user list better; an assignment's name and value stay terminated.
#include "fuzz_util.h"
#include "jobs/cron_load.h"
#include "jobs/live.h"
#include "jobs/warnings.h"

namespace {

const char k_passwd[] = "root:x:0:0:root:/root:/bin/bash\nalice:x:1000:1000::/home/alice:/bin/sh\n";

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) return 0;
    const int system = data[0] & 1;
    const int flavor = data[0] & 2 ? FLAVOR_CRONIE : FLAVOR_DEBIAN;
    std::string line = c_text(data + 1, size - 1);
    line = line.substr(0, line.find('\n'));
    if (line.size() > 2047) line.resize(2047);
    char why[80], why_open[80], why_any[80];
    const int refused = cron_load_line(line.c_str(), system, flavor, 1, k_passwd, why, sizeof why);
    FUZZ_CHECK(terminated(why, sizeof why));
    FUZZ_CHECK((refused != 0) == (why[0] != 0));
    const int open_end =
        cron_load_line(line.c_str(), system, flavor, 0, k_passwd, why_open, sizeof why_open);
    FUZZ_CHECK(!refused || open_end);
    const int any_user =
        cron_load_line(line.c_str(), system, flavor, 1, nullptr, why_any, sizeof why_any);
    FUZZ_CHECK(!any_user || refused);
    size_t first = line.find_first_not_of(" \t\n\v\f\r");
    if (first == std::string::npos || line[first] == '#') FUZZ_CHECK(!refused && !open_end);

    char name[16], value[64];
    if (cron_env_line(line.c_str(), name, sizeof name, value, sizeof value)) {
        FUZZ_CHECK(terminated(name, sizeof name) && terminated(value, sizeof value));
        FUZZ_CHECK(!refused);
    }
    cron_env env;
    cron_env_start(&env);
    cron_env_note(&env, line.c_str());
    FUZZ_CHECK(terminated(env.path, sizeof env.path));
    uint32_t uid;
    passwd_find(line.c_str(), "root", &uid);
    (void)has_unescaped_percent(line.c_str());
    return 0;
}
