// json_str: the literal decodes back to the input bytes, uses only the
// escapes of its table, and is valid JSON wherever the input is valid UTF-8.
#include <nlohmann/json.hpp>

#include "api/api.h"
#include "fuzz_util.h"

namespace {

int hex(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1; // upper-case digits are never written
}

// Decodes a string literal written by json_str, byte for byte. Aborts on
// anything json_str must not write.
std::string decode_literal(const std::string &lit) {
    FUZZ_CHECK(lit.size() >= 2 && lit.front() == '"' && lit.back() == '"');
    std::string out;
    for (size_t i = 1; i + 1 < lit.size(); i++) {
        unsigned char c = (unsigned char)lit[i];
        FUZZ_CHECK(c >= 0x20 && c != '"');
        if (c != '\\') {
            out += (char)c;
            continue;
        }
        FUZZ_CHECK(i + 2 < lit.size());
        char e = lit[++i];
        switch (e) {
        case 't':
            out += '\t';
            break;
        case 'n':
            out += '\n';
            break;
        case 'r':
            out += '\r';
            break;
        case '"':
            out += '"';
            break;
        case '\\':
            out += '\\';
            break;
        case 'u': {
            FUZZ_CHECK(i + 5 < lit.size() && lit.compare(i + 1, 2, "00") == 0);
            int hi = hex(lit[i + 3]), lo = hex(lit[i + 4]);
            FUZZ_CHECK(hi >= 0 && lo >= 0);
            int v = hi * 16 + lo;
            FUZZ_CHECK(v >= 1 && v < 0x20 && v != '\t' && v != '\n' && v != '\r');
            out += (char)v;
            i += 4;
            break;
        }
        default:
            FUZZ_CHECK(!"unexpected escape");
        }
    }
    return out;
}

bool valid_utf8(const std::string &s) {
    size_t i = 0;
    while (i < s.size()) {
        unsigned char c = (unsigned char)s[i];
        int n;
        uint32_t cp;
        if (c < 0x80) {
            i++;
            continue;
        } else if (c >= 0xc2 && c <= 0xdf) {
            n = 1, cp = c & 0x1f;
        } else if (c >= 0xe0 && c <= 0xef) {
            n = 2, cp = c & 0x0f;
        } else if (c >= 0xf0 && c <= 0xf4) {
            n = 3, cp = c & 0x07;
        } else {
            return false;
        }
        if (i + n >= s.size()) return false;
        for (int k = 1; k <= n; k++) {
            unsigned char cc = (unsigned char)s[i + k];
            if ((cc & 0xc0) != 0x80) return false;
            cp = cp << 6 | (cc & 0x3f);
        }
        if ((n == 2 && cp < 0x800) || (n == 3 && (cp < 0x10000 || cp > 0x10ffff)) ||
            (cp >= 0xd800 && cp <= 0xdfff))
            return false;
        i += n + 1;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string text = c_text(data, size);
    std::string lit = capture_stdout([&] { json_str(text.c_str()); });
    FUZZ_CHECK(decode_literal(lit) == text);
    if (valid_utf8(text)) {
        nlohmann::json j = nlohmann::json::parse(lit);
        FUZZ_CHECK(j.is_string() && j.get<std::string>() == text);
    }
    return 0;
}
