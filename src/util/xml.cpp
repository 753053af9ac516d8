#include "util/xml.h"

#include <bit>
#include <string.h>

#include "util/str.h"

namespace {

// Appends code point c as UTF-8 at out[*n] when it fits below cap - 1.
int put_utf8(uint32_t c, char *out, size_t cap, size_t *n) {
    char b[4];
    int k;
    if (c < 0x80) {
        b[0] = (char)c;
        k = 1;
    } else if (c < 0x800) {
        b[0] = (char)(0xC0 | (c >> 6));
        b[1] = (char)(0x80 | (c & 0x3F));
        k = 2;
    } else if (c < 0x10000) {
        b[0] = (char)(0xE0 | (c >> 12));
        b[1] = (char)(0x80 | ((c >> 6) & 0x3F));
        b[2] = (char)(0x80 | (c & 0x3F));
        k = 3;
    } else {
        b[0] = (char)(0xF0 | (c >> 18));
        b[1] = (char)(0x80 | ((c >> 12) & 0x3F));
        b[2] = (char)(0x80 | ((c >> 6) & 0x3F));
        b[3] = (char)(0x80 | (c & 0x3F));
        k = 4;
    }
    if (*n + (size_t)k + 1 > cap) return 0;
    memcpy(out + *n, b, (size_t)k);
    *n += (size_t)k;
    return 1;
}

// UTF-16 in either byte order, from in[0..n) after any mark; surrogates must
// pair, and a NUL or an odd trailing byte is refused.
int utf16_to_utf8(const unsigned char *in, size_t n, int big, char *out, size_t cap, size_t *len,
                  const char **error) {
    size_t o = 0;
    if (n % 2) {
        *error = "cut short in the middle of a UTF-16 character";
        return 0;
    }
    for (size_t i = 0; i < n; i += 2) {
        // Runs of ASCII, most of a task definition, a unit at a time.
        if (!big && std::endian::native == std::endian::little) {
            const size_t room = cap - 1 - o, units = (n - i) / 2;
            const size_t most = units < room ? units : room;
            size_t k = 0;
            // Eight units at a time while all are ASCII and none is NUL,
            // read as two words of this little-endian host.
            for (; k + 8 <= most; k += 8) {
                uint64_t w[2];
                memcpy(w, in + i + 2 * k, 16);
                const uint64_t ascii = (w[0] | w[1]) & 0xFF80FF80FF80FF80ull;
                const uint64_t nul = ((w[0] - 0x0001000100010001ull) & ~w[0]) |
                                     ((w[1] - 0x0001000100010001ull) & ~w[1]);
                if (ascii | (nul & 0x8000800080008000ull)) break;
                // Bytes a 0 b 0 c 0 d 0 become a b c d.
                const uint64_t x = w[0] | (w[0] >> 8), y = w[1] | (w[1] >> 8);
                const uint64_t eight = (x & 0xFFFF) | ((x >> 16) & 0xFFFF0000) |
                                       (y & 0xFFFF) << 32 | ((y >> 16) & 0xFFFF0000) << 32;
                memcpy(out + o + k, &eight, 8);
            }
            for (; k < most; k++) {
                const unsigned char c = in[i + 2 * k];
                if (in[i + 2 * k + 1] || c >= 0x80 || !c) break;
                out[o + k] = (char)c;
            }
            o += k;
            i += 2 * k;
            if (i >= n) break;
        }
        uint32_t u = big ? (uint32_t)(in[i] << 8 | in[i + 1]) : (uint32_t)(in[i + 1] << 8 | in[i]);
        if (u >= 0xD800 && u <= 0xDBFF) {
            if (i + 3 >= n) {
                *error = "ill-formed UTF-16";
                return 0;
            }
            uint32_t v = big ? (uint32_t)(in[i + 2] << 8 | in[i + 3])
                             : (uint32_t)(in[i + 3] << 8 | in[i + 2]);
            if (v < 0xDC00 || v > 0xDFFF) {
                *error = "ill-formed UTF-16";
                return 0;
            }
            u = 0x10000 + ((u - 0xD800) << 10) + (v - 0xDC00);
            i += 2;
        } else if (u >= 0xDC00 && u <= 0xDFFF) {
            *error = "ill-formed UTF-16";
            return 0;
        }
        if (u == 0) {
            *error = "a NUL character";
            return 0;
        }
        if (!put_utf8(u, out, cap, &o)) {
            *error = "too long";
            return 0;
        }
    }
    out[o] = 0;
    *len = o;
    return 1;
}

// XML name characters, ASCII ones by class and every non-ASCII byte: bit 1
// for a character that may start a name, bit 2 for one that may follow.
struct name_classes {
    unsigned char c[256];
};

constexpr name_classes make_name_classes() {
    name_classes t{};
    for (int c = 0; c < 256; c++) {
        const bool start =
            (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == ':' || c >= 0x80;
        const bool next = start || (c >= '0' && c <= '9') || c == '-' || c == '.';
        t.c[c] = (unsigned char)((start ? 1 : 0) | (next ? 2 : 0));
    }
    return t;
}

constexpr name_classes k_name_classes = make_name_classes();

bool name_start(unsigned char c) {
    return k_name_classes.c[c] & 1;
}

bool name_char(unsigned char c) {
    return k_name_classes.c[c] & 2;
}

// The four white-space characters of XML.
bool xml_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Reads the reference at s[*i] ('&' there) within s[0..end): stores the code
// point and moves *i past the ';'. Returns 0 for anything but the five
// predefined entities and a decimal or hexadecimal reference to a character
// XML allows.
int read_reference(const char *s, size_t end, size_t *i, uint32_t *c) {
    static const struct {
        const char *name;
        uint32_t c;
    } k_entities[] = {{"lt;", '<'}, {"gt;", '>'}, {"amp;", '&'}, {"quot;", '"'}, {"apos;", '\''}};
    size_t p = *i + 1;
    if (p < end && s[p] == '#') {
        p++;
        int hex = p < end && s[p] == 'x';
        if (hex) p++;
        uint32_t v = 0;
        int digits = 0;
        for (; p < end && s[p] != ';'; p++, digits++) {
            const char d = s[p];
            int x;
            if (d >= '0' && d <= '9')
                x = d - '0';
            else if (hex && d >= 'a' && d <= 'f')
                x = d - 'a' + 10;
            else if (hex && d >= 'A' && d <= 'F')
                x = d - 'A' + 10;
            else
                return 0;
            v = v * (hex ? 16 : 10) + (uint32_t)x;
            if (v > 0x10FFFF) return 0;
        }
        if (p >= end || !digits) return 0;
        if (v == 0 || (v < 0x20 && v != 9 && v != 10 && v != 13) || (v >= 0xD800 && v <= 0xDFFF) ||
            v == 0xFFFE || v == 0xFFFF)
            return 0;
        *c = v;
        *i = p + 1;
        return 1;
    }
    for (const auto &e : k_entities) {
        const size_t k = strlen(e.name);
        if (p + k <= end && memcmp(s + p, e.name, k) == 0) {
            *c = e.c;
            *i = p + k;
            return 1;
        }
    }
    return 0;
}

// Checks every '&' of s[from..to) for a known reference.
int references_ok(const char *s, size_t from, size_t to) {
    for (size_t i = from; i < to;) {
        if (s[i] != '&') {
            i++;
            continue;
        }
        uint32_t c;
        if (!read_reference(s, to, &i, &c)) return 0;
    }
    return 1;
}

// Finds the text pat at or after s[i] within len; returns its index or -1.
int64_t find(const char *s, size_t len, size_t i, const char *pat) {
    const size_t k = strlen(pat);
    for (; i + k <= len; i++)
        if (s[i] == pat[0] && memcmp(s + i, pat, k) == 0) return (int64_t)i;
    return -1;
}

// The position in the text and the elements open at it.
struct parser {
    xml_doc *doc;
    const char *s;
    size_t len, i;
    int32_t stack[XML_MAX_DEPTH];
    int depth;
};

// Records the error of the document; returns 0.
int fail(parser *p, const char *error) {
    str_set(p->doc->error, error);
    return 0;
}

// Skips a comment, a processing instruction (the declaration among them) or
// refuses a document type declaration, at '<' followed by '!' or '?'.
// Returns 1 when something was skipped, 0 with the error set.
int skip_markup(parser *p) {
    const char *s = p->s;
    if (s[p->i + 1] == '?') {
        int64_t e = find(s, p->len, p->i + 2, "?>");
        if (e < 0) return fail(p, "cut short inside a processing instruction");
        p->i = (size_t)e + 2;
        return 1;
    }
    if (p->i + 4 <= p->len && memcmp(s + p->i, "<!--", 4) == 0) {
        int64_t e = find(s, p->len, p->i + 4, "-->");
        if (e < 0) return fail(p, "cut short inside a comment");
        p->i = (size_t)e + 3;
        return 1;
    }
    if (p->i + 9 <= p->len && memcmp(s + p->i, "<!DOCTYPE", 9) == 0)
        return fail(p, "a document type declaration");
    return fail(p, "markup that is not XML");
}

// Reads a name at p->i; returns its length (0 when there is none).
size_t read_name(parser *p) {
    size_t k = p->i;
    if (k >= p->len || !name_start((unsigned char)p->s[k])) return 0;
    while (k < p->len && name_char((unsigned char)p->s[k])) k++;
    return k - p->i;
}

// Reads a start tag at '<' and its attributes; pushes the new element unless
// it closes itself. Returns 1, or 0 with the error set.
int start_tag(parser *p) {
    xml_doc *doc = p->doc;
    const char *s = p->s;
    const size_t tag = p->i;
    p->i++;
    const size_t name_len = read_name(p);
    if (!name_len) return fail(p, "markup that is not XML");
    size_t local = p->i;
    for (const char *c = s + p->i; (c = (const char *)memchr(c, ':', s + p->i + name_len - c)); c++)
        local = (size_t)(c - s) + 1;
    if (doc->count >= XML_MAX_NODES) return fail(p, "more than 4096 elements");
    if (p->depth >= XML_MAX_DEPTH) return fail(p, "elements nested deeper than 64 levels");
    if (p->depth == 0 && doc->count > 0) return fail(p, "more than one root element");
    const int32_t id = doc->count++;
    xml_node *n = &doc->nodes[id];
    n->name = (int32_t)p->i;
    n->name_len = (int32_t)name_len;
    n->local = (int32_t)local;
    n->tag = (int32_t)tag;
    n->first_child = n->next_sibling = n->last_child = -1;
    n->parent = p->depth ? p->stack[p->depth - 1] : -1;
    if (n->parent >= 0) {
        xml_node *parent = &doc->nodes[n->parent];
        if (parent->last_child >= 0)
            doc->nodes[parent->last_child].next_sibling = id;
        else
            parent->first_child = id;
        parent->last_child = id;
    }
    p->i += name_len;
    for (;;) {
        const size_t before = p->i;
        while (p->i < p->len && xml_space(s[p->i])) p->i++;
        if (p->i >= p->len) return fail(p, "cut short inside a tag");
        if (s[p->i] == '>' || s[p->i] == '/') break;
        if (p->i == before) return fail(p, "attributes not separated by white space");
        const size_t an = read_name(p);
        if (!an) return fail(p, "a malformed attribute");
        p->i += an;
        while (p->i < p->len && xml_space(s[p->i])) p->i++;
        if (p->i >= p->len || s[p->i] != '=') return fail(p, "an attribute without a value");
        p->i++;
        while (p->i < p->len && xml_space(s[p->i])) p->i++;
        if (p->i >= p->len || (s[p->i] != '"' && s[p->i] != '\''))
            return fail(p, "an attribute value without quotes");
        const char q = s[p->i++];
        const size_t from = p->i;
        while (p->i < p->len && s[p->i] != q) {
            if (s[p->i] == '<') return fail(p, "'<' in an attribute value");
            p->i++;
        }
        if (p->i >= p->len) return fail(p, "cut short inside a tag");
        if (!references_ok(s, from, p->i)) return fail(p, "an unknown entity");
        p->i++;
    }
    if (s[p->i] == '/') {
        if (p->i + 1 >= p->len || s[p->i + 1] != '>') return fail(p, "markup that is not XML");
        p->i += 2;
        n->tag_end = n->content = n->content_end = n->end = (int32_t)p->i;
        return 1;
    }
    p->i++;
    n->tag_end = n->content = (int32_t)p->i;
    p->stack[p->depth++] = id;
    return 1;
}

// Reads an end tag at "</", which must close the innermost open element.
int end_tag(parser *p) {
    xml_doc *doc = p->doc;
    if (!p->depth) return fail(p, "an end tag without its start tag");
    xml_node *n = &doc->nodes[p->stack[p->depth - 1]];
    const size_t at = p->i;
    p->i += 2;
    // Most end tags match: compare with the start tag's name before reading one.
    const size_t want = (size_t)n->name_len;
    size_t nl;
    if (p->i + want < p->len && memcmp(p->s + p->i, p->s + n->name, want) == 0 &&
        !name_char((unsigned char)p->s[p->i + want]))
        nl = want;
    else
        nl = read_name(p);
    if (p->i + nl >= p->len) return fail(p, "cut short inside a tag");
    if (nl != (size_t)n->name_len || memcmp(p->s + p->i, p->s + n->name, nl) != 0)
        return fail(p, "an end tag that does not match its start tag");
    p->i += nl;
    while (p->i < p->len && xml_space(p->s[p->i])) p->i++;
    if (p->i >= p->len) return fail(p, "cut short inside a tag");
    if (p->s[p->i] != '>') return fail(p, "markup that is not XML");
    p->i++;
    n->content_end = (int32_t)at;
    n->end = (int32_t)p->i;
    p->depth--;
    return 1;
}

// Reads character data up to the next '<': only white space outside the root.
int char_data(parser *p) {
    const size_t from = p->i;
    if (p->depth) {
        const void *lt = memchr(p->s + p->i, '<', p->len - p->i);
        p->i = lt ? (size_t)((const char *)lt - p->s) : p->len;
    } else {
        while (p->i < p->len && p->s[p->i] != '<') {
            if (!xml_space(p->s[p->i])) return fail(p, "text outside the root element");
            p->i++;
        }
    }
    if (memchr(p->s + from, '&', p->i - from) && !references_ok(p->s, from, p->i))
        return fail(p, "an unknown entity");
    return 1;
}

// Appends s[from..to), references decoded, to out.
void decode_span(const char *s, size_t from, size_t to, char *out, size_t cap, size_t *n) {
    for (size_t i = from; i < to;) {
        uint32_t c;
        if (s[i] == '&' && read_reference(s, to, &i, &c)) {
            if (!put_utf8(c, out, cap, n)) return;
            continue;
        }
        // Up to the next '&' in one copy (an unknown reference's '&' as it is).
        const void *amp = memchr(s + i + 1, '&', to - i - 1);
        const size_t stop = amp ? (size_t)((const char *)amp - s) : to;
        const size_t room = cap - 1 - *n, k = stop - i < room ? stop - i : room;
        memcpy(out + *n, s + i, k);
        *n += k;
        if (k < stop - i) return;
        i = stop;
    }
}

// True when node i's local name is name[0..len).
bool local_is(const xml_doc *doc, int i, const char *name, size_t len) {
    const xml_node *n = &doc->nodes[i];
    return (size_t)(n->name + n->name_len - n->local) == len &&
           memcmp(doc->text + n->local, name, len) == 0;
}

// The first node from i on along the siblings whose local name is
// name[0..len), or -1.
int sibling_from(const xml_doc *doc, int i, const char *name, size_t len) {
    for (; i >= 0; i = doc->nodes[i].next_sibling)
        if (local_is(doc, i, name, len)) return i;
    return -1;
}

} // namespace

int xml_to_utf8(const unsigned char *in, size_t n, char *out, size_t cap, size_t *out_len,
                const char **error) {
    *out_len = 0;
    if (cap) out[0] = 0;
    if (n >= 2 && in[0] == 0xFF && in[1] == 0xFE)
        return utf16_to_utf8(in + 2, n - 2, 0, out, cap, out_len, error);
    if (n >= 2 && in[0] == 0xFE && in[1] == 0xFF)
        return utf16_to_utf8(in + 2, n - 2, 1, out, cap, out_len, error);
    if (n >= 2 && in[0] == '<' && in[1] == 0)
        return utf16_to_utf8(in, n, 0, out, cap, out_len, error);
    if (n >= 2 && in[0] == 0 && in[1] == '<')
        return utf16_to_utf8(in, n, 1, out, cap, out_len, error);
    size_t i = n >= 3 && in[0] == 0xEF && in[1] == 0xBB && in[2] == 0xBF ? 3 : 0;
    if (n - i + 1 > cap) {
        *error = "too long";
        return 0;
    }
    size_t o = 0;
    while (i < n) {
        // Eight ASCII bytes without a NUL at a time.
        if (i + 8 <= n) {
            uint64_t w;
            memcpy(&w, in + i, 8);
            if (!(w & 0x8080808080808080ull) &&
                !((w - 0x0101010101010101ull) & ~w & 0x8080808080808080ull)) {
                memcpy(out + o, in + i, 8);
                o += 8;
                i += 8;
                continue;
            }
        }
        const int k = utf8_char_len(in + i, n - i);
        if (!k) {
            *error = "neither UTF-8 nor UTF-16 text";
            return 0;
        }
        if (in[i] == 0) {
            *error = "a NUL character";
            return 0;
        }
        memcpy(out + o, in + i, (size_t)k);
        o += (size_t)k;
        i += (size_t)k;
    }
    out[o] = 0;
    *out_len = o;
    return 1;
}

int xml_parse(xml_doc *doc, const char *text, size_t len) {
    doc->text = text;
    doc->len = (int32_t)len;
    doc->count = 0;
    doc->error[0] = 0;
    if (len > 0x7FFFFFF0u) return str_set(doc->error, "too long"), 0;
    parser p;
    p.doc = doc;
    p.s = text;
    p.len = len;
    p.i = 0;
    p.depth = 0;
    while (p.i < len) {
        if (text[p.i] != '<') {
            if (!char_data(&p)) return 0;
            continue;
        }
        if (p.i + 1 >= len) return fail(&p, "cut short");
        const char c = text[p.i + 1];
        if (c == '!' && p.i + 9 <= len && memcmp(text + p.i, "<![CDATA[", 9) == 0) {
            if (!p.depth) return fail(&p, "text outside the root element");
            int64_t e = find(text, len, p.i + 9, "]]>");
            if (e < 0) return fail(&p, "cut short inside a CDATA section");
            p.i = (size_t)e + 3;
        } else if (c == '!' || c == '?') {
            if (!skip_markup(&p)) return 0;
        } else if (c == '/') {
            if (!end_tag(&p)) return 0;
        } else if (!start_tag(&p)) {
            return 0;
        }
    }
    if (p.depth) return fail(&p, "cut short before the end of the root element");
    if (!doc->count) return fail(&p, "no root element");
    return 1;
}

const char *xml_local_name(const xml_doc *doc, int i, int *len) {
    const xml_node *n = &doc->nodes[i];
    *len = n->name + n->name_len - n->local;
    return doc->text + n->local;
}

int xml_is(const xml_doc *doc, int i, const char *name) {
    if (i < 0 || i >= doc->count) return 0;
    return local_is(doc, i, name, strlen(name));
}

int xml_child(const xml_doc *doc, int parent, const char *name) {
    if (parent < 0 || parent >= doc->count) return -1;
    return sibling_from(doc, doc->nodes[parent].first_child, name, strlen(name));
}

int xml_next_named(const xml_doc *doc, int i, const char *name) {
    if (i < 0 || i >= doc->count) return -1;
    return sibling_from(doc, doc->nodes[i].next_sibling, name, strlen(name));
}

int xml_text(const xml_doc *doc, int i, char *out, size_t cap) {
    if (!cap) return 0;
    out[0] = 0;
    if (i < 0 || i >= doc->count) return 0;
    const xml_node *node = &doc->nodes[i];
    const char *s = doc->text;
    size_t n = 0;
    size_t at = (size_t)node->content;
    const size_t end = (size_t)node->content_end;
    int child = node->first_child;
    // The content was checked by the parser: its markup is whole.
    while (at < end) {
        if (s[at] != '<') {
            const void *lt = memchr(s + at, '<', end - at);
            const size_t next = lt ? (size_t)((const char *)lt - s) : end;
            decode_span(s, at, next, out, cap, &n);
            at = next;
        } else if (at + 9 <= end && memcmp(s + at, "<![CDATA[", 9) == 0) {
            int64_t e = find(s, end, at + 9, "]]>");
            if (e < 0) break;
            const size_t k = (size_t)e - (at + 9);
            const size_t keep = utf8_cut(s + at + 9, k, cap - 1 - n);
            memcpy(out + n, s + at + 9, keep);
            n += keep;
            at = (size_t)e + 3;
        } else if (at + 4 <= end && memcmp(s + at, "<!--", 4) == 0) {
            int64_t e = find(s, end, at + 4, "-->");
            if (e < 0) break;
            at = (size_t)e + 3;
        } else if (s[at + 1] == '?') {
            int64_t e = find(s, end, at + 2, "?>");
            if (e < 0) break;
            at = (size_t)e + 2;
        } else {
            // A child element, the next in document order: skip it whole.
            while (child >= 0 && doc->nodes[child].tag < (int32_t)at)
                child = doc->nodes[child].next_sibling;
            if (child < 0 || doc->nodes[child].tag != (int32_t)at) break;
            at = (size_t)doc->nodes[child].end;
        }
    }
    n = utf8_drop_partial(out, n);
    out[n] = 0;
    return 1;
}

int xml_path_text(const xml_doc *doc, int parent, const char *path, char *out, size_t cap) {
    if (cap) out[0] = 0;
    int at = parent;
    const char *p = path;
    while (*p && at >= 0 && at < doc->count) {
        size_t k = 0;
        while (p[k] && p[k] != '/') k++;
        at = sibling_from(doc, doc->nodes[at].first_child, p, k);
        p += k;
        if (*p == '/') p++;
    }
    if (at < 0) return 0;
    return xml_text(doc, at, out, cap);
}

int xml_attr(const xml_doc *doc, int i, const char *name, char *out, size_t cap) {
    if (cap) out[0] = 0;
    if (i < 0 || i >= doc->count || !cap) return 0;
    const xml_node *node = &doc->nodes[i];
    const char *s = doc->text;
    size_t at = (size_t)(node->name + node->name_len);
    const size_t end = (size_t)node->tag_end;
    const size_t want = strlen(name);
    // The tag was checked by the parser: names, '=' and quoted values.
    while (at < end) {
        while (at < end && xml_space(s[at])) at++;
        if (at >= end || s[at] == '>' || s[at] == '/') break;
        const size_t an = at;
        while (at < end && name_char((unsigned char)s[at])) at++;
        const size_t alen = at - an;
        while (at < end && s[at] != '"' && s[at] != '\'') at++;
        if (at >= end) break;
        const char q = s[at++];
        const size_t from = at;
        while (at < end && s[at] != q) at++;
        if (alen == want && memcmp(s + an, name, want) == 0) {
            size_t n = 0;
            decode_span(s, from, at, out, cap, &n);
            n = utf8_drop_partial(out, n);
            out[n] = 0;
            return 1;
        }
        at++;
    }
    return 0;
}
