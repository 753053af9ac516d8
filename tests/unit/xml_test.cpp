// The bounded XML reader: encodings by mark and bytes, well-formedness, the
// entities it knows, and look-up by name.
#include <gtest/gtest.h>
#include <string.h>
#include <string>

#include "util/xml.h"

namespace {

struct parsed {
    char text[4096];
    xml_doc doc;
    int ok;
};

parsed *parse(const std::string &bytes) {
    static parsed p;
    size_t len;
    const char *error = nullptr;
    p.ok = xml_to_utf8((const unsigned char *)bytes.data(), bytes.size(), p.text, sizeof p.text,
                       &len, &error) &&
           xml_parse(&p.doc, p.text, len);
    if (error) strcpy(p.doc.error, error);
    return &p;
}

std::string utf16le(const std::string &ascii) {
    std::string out;
    for (char c : ascii) {
        out += c;
        out += '\0';
    }
    return out;
}

} // namespace

TEST(Xml, EncodingsByMarkAndBytes) {
    const std::string doc = "<?xml version=\"1.0\" encoding=\"UTF-16\"?><a>x</a>";
    struct {
        std::string bytes;
        const char *name;
    } rows[] = {
        {doc, "UTF-8 declared UTF-16"},
        {"\xEF\xBB\xBF" + doc, "UTF-8 with a mark"},
        {"\xFF\xFE" + utf16le(doc), "UTF-16LE with a mark"},
        {utf16le(doc), "UTF-16LE without a mark"},
        {std::string("\xFE\xFF\0<\0a\0>\0x\0<\0/\0a\0>", 18), "UTF-16BE with a mark"},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.name);
        parsed *p = parse(r.bytes);
        ASSERT_TRUE(p->ok) << p->doc.error;
        char v[16];
        EXPECT_TRUE(xml_text(&p->doc, 0, v, sizeof v));
        EXPECT_STREQ(v, "x");
    }
    // A surrogate pair becomes one four-byte character; a lone one is refused.
    parsed *p = parse(std::string("\xFF\xFE<\0a\0>\0\x3D\xD8\x00\xDE<\0/\0a\0>\0", 20));
    ASSERT_TRUE(p->ok);
    char v[16];
    xml_text(&p->doc, 0, v, sizeof v);
    EXPECT_STREQ(v, "\xF0\x9F\x98\x80");
    EXPECT_FALSE(parse(std::string("\xFF\xFE<\0a\0>\0\x3D\xD8<\0/\0a\0>\0", 18))->ok);
}

TEST(Xml, WellFormedOrRefused) {
    struct {
        std::string text;
        const char *error; // nullptr: accepted
    } rows[] = {
        {"<a b='1' c=\"&lt;&#65;&#x42;\"><!-- c --><?pi x?><b/><![CDATA[<&>]]></a>", nullptr},
        {"  <a/>  ", nullptr},
        {"<a>", "cut short before the end of the root element"},
        {"<a></b>", "an end tag that does not match its start tag"},
        {"<a/><b/>", "more than one root element"},
        {"<a b=1/>", "an attribute value without quotes"},
        {"<a b='<'/>", "'<' in an attribute value"},
        {"<a b='1'c='2'/>", "attributes not separated by white space"},
        {"<a>&foo;</a>", "an unknown entity"},
        {"<a>&#0;</a>", "an unknown entity"},
        {"<a>&#x110000;</a>", "an unknown entity"},
        {"<a>&amp</a>", "an unknown entity"},
        {"<!DOCTYPE a SYSTEM \"file:///etc/passwd\"><a/>", "a document type declaration"},
        {"<a><!-- open</a>", "cut short inside a comment"},
        {"<a><![CDATA[x</a>", "cut short inside a CDATA section"},
        {"x<a/>", "text outside the root element"},
        {"", "no root element"},
        {"<", "cut short"},
        {"<a", "cut short inside a tag"},
        {"<1/>", "markup that is not XML"},
        {std::string(1, '\0'), "a NUL character"},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.text);
        parsed *p = parse(r.text);
        if (r.error) {
            EXPECT_FALSE(p->ok);
            EXPECT_STREQ(p->doc.error, r.error);
        } else {
            EXPECT_TRUE(p->ok) << p->doc.error;
        }
    }
}

TEST(Xml, BoundsOfNestingAndElements) {
    std::string deep;
    for (int i = 0; i < 64; i++) deep += "<a>";
    for (int i = 0; i < 64; i++) deep += "</a>";
    EXPECT_TRUE(parse(deep)->ok);
    EXPECT_STREQ(parse("<a>" + deep + "</a>")->doc.error, "elements nested deeper than 64 levels");
    static char many[XML_MAX_NODES * 4 + 32];
    std::string flat = "<r>";
    for (int i = 0; i < XML_MAX_NODES - 1; i++) flat += "<a/>";
    flat += "</r>";
    ASSERT_LT(flat.size(), sizeof many);
    static xml_doc doc;
    memcpy(many, flat.data(), flat.size());
    EXPECT_TRUE(xml_parse(&doc, many, flat.size()));
    flat.insert(3, "<a/>");
    memcpy(many, flat.data(), flat.size());
    EXPECT_FALSE(xml_parse(&doc, many, flat.size()));
    EXPECT_STREQ(doc.error, "more than 4096 elements");
}

TEST(Xml, LookUpByNameAndText) {
    parsed *p = parse("<t:Task xmlns:t='urn:x' id='&quot;7&quot;'><t:A>1</t:A><B> x <!--c--> &amp; "
                      "<C/>y<D>z</D></B><t:A>2</t:A></t:Task>");
    ASSERT_TRUE(p->ok) << p->doc.error;
    const xml_doc *d = &p->doc;
    EXPECT_TRUE(xml_is(d, 0, "Task"));
    char v[64];
    EXPECT_TRUE(xml_attr(d, 0, "id", v, sizeof v));
    EXPECT_STREQ(v, "\"7\"");
    EXPECT_TRUE(xml_attr(d, 0, "xmlns:t", v, sizeof v));
    EXPECT_STREQ(v, "urn:x");
    EXPECT_FALSE(xml_attr(d, 0, "xmlns", v, sizeof v));
    const int a = xml_child(d, 0, "A");
    xml_text(d, a, v, sizeof v);
    EXPECT_STREQ(v, "1");
    xml_text(d, xml_next_named(d, a, "A"), v, sizeof v);
    EXPECT_STREQ(v, "2");
    // Child elements and comments are left out of the text.
    xml_text(d, xml_child(d, 0, "B"), v, sizeof v);
    EXPECT_STREQ(v, " x  & y");
    EXPECT_TRUE(xml_path_text(d, 0, "B/D", v, sizeof v));
    EXPECT_STREQ(v, "z");
    EXPECT_FALSE(xml_path_text(d, 0, "B/E", v, sizeof v));
    EXPECT_EQ(xml_child(d, 0, "Missing"), -1);
    // A cut falls on a character boundary.
    parsed *q = parse("<a>\xC3\xA9\xC3\xA9</a>");
    char small[4];
    xml_text(&q->doc, 0, small, sizeof small);
    EXPECT_STREQ(small, "\xC3\xA9");
}
