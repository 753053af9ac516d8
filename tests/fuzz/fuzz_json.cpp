// json_str: the literal decodes back to the input bytes, uses only the
// escapes of its table, and is always valid UTF-8 JSON: well-formed UTF-8
// unchanged, any other byte as the character of the same value.
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
            FUZZ_CHECK((v >= 1 && v < 0x20 && v != '\t' && v != '\n' && v != '\r') || v >= 0x80);
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

// What the literal must hold: the text with every byte that is no part of
// well-formed UTF-8 replaced by the character of the same value.
std::string latin1_fallback(const std::string &text) {
    std::string out;
    for (size_t i = 0; i < text.size();) {
        size_t n = 1;
        while (n <= 4 && i + n <= text.size() && !valid_utf8(text.substr(i, n))) n++;
        if (n <= 4 && i + n <= text.size()) {
            out += text.substr(i, n);
            i += n;
        } else {
            unsigned char c = (unsigned char)text[i++];
            out += (char)(0xc0 | c >> 6);
            out += (char)(0x80 | (c & 0x3f));
        }
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string text = c_text(data, size);
    std::string lit = capture_stdout([&] { json_str(text.c_str()); });
    FUZZ_CHECK(decode_literal(lit) == text);
    // Whatever the bytes, the literal is valid UTF-8 JSON.
    FUZZ_CHECK(valid_utf8(lit));
    nlohmann::json j = nlohmann::json::parse(lit);
    FUZZ_CHECK(j.is_string() && j.get<std::string>() == latin1_fallback(text));
    if (valid_utf8(text)) FUZZ_CHECK(j.get<std::string>() == text);
    return 0;
}
