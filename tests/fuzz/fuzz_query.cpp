// get_query_val against a direct model of the lookup: the first byte picks
// the name, the second the capacity, the rest is the query string.
#include <vector>

#include "fuzz_util.h"
#include "util/query.h"

namespace {

int hex(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

int model(const std::string &q, const std::string &name, size_t cap, std::string &out) {
    out.clear();
    if (q.empty()) return 0;
    for (size_t pos = 0;;) {
        size_t eq = pos + name.size();
        if (q.compare(pos, name.size(), name) == 0 && eq < q.size() && q[eq] == '=') {
            size_t end = q.find('&', eq + 1);
            if (end == std::string::npos) end = q.size();
            std::string raw = q.substr(eq + 1, std::min(end - eq - 1, cap - 1));
            for (size_t i = 0; i < raw.size(); i++) {
                if (raw[i] == '%' && i + 2 < raw.size() && hex(raw[i + 1]) >= 0 &&
                    hex(raw[i + 2]) >= 0) {
                    out += (char)(hex(raw[i + 1]) * 16 + hex(raw[i + 2]));
                    i += 2;
                } else {
                    out += raw[i] == '+' ? ' ' : raw[i];
                }
            }
            out.resize(strnlen(out.c_str(), out.size())); // a decoded %00 ends it
            return end - eq - 1 > cap - 1 ? 2 : 1;
        }
        size_t amp = q.find('&', pos);
        if (amp == std::string::npos || amp + 1 == q.size()) return 0;
        pos = amp + 1;
    }
}

const char *const k_names[] = {"action", "expr", "pwd", "embed", "a", "a=b", ""};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 2) return 0;
    std::string name = k_names[data[0] % (sizeof k_names / sizeof k_names[0])];
    size_t cap = 2 + data[1] % 300;
    std::string query = c_text(data + 2, size - 2);

    // Exact-size heap copies, so any read or write past them is caught.
    std::vector<char> q(query.begin(), query.end());
    q.push_back(0);
    char *out = new char[cap];
    memset(out, 0x5a, cap);
    int rc = get_query_val(q.data(), name.c_str(), out, cap);
    std::string expected;
    FUZZ_CHECK(rc == model(query, name, cap, expected));
    FUZZ_CHECK(terminated(out, cap));
    FUZZ_CHECK(out == expected);

    memset(out, 0x5a, cap);
    FUZZ_CHECK(get_query_val(nullptr, name.c_str(), out, cap) == 0 && out[0] == 0);
    delete[] out;
    return 0;
}
