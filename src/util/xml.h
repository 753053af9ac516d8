// A small, bounded reader of XML documents such as the Task Scheduler's task
// definitions. It reads only the bytes it is given: no document type
// declaration (refused), no external entity, nothing fetched. Entities are
// the five predefined ones and numeric character references. Elements are
// found by name. Nothing is allocated: the caller owns every buffer.
#pragma once
#include <stddef.h>
#include <stdint.h>

enum { XML_MAX_NODES = 4096, XML_MAX_DEPTH = 64 };

// One element: where its name, its start tag and its content lie in the text,
// and its place in the tree (indexes into xml_doc::nodes, -1 for none).
struct xml_node {
    int32_t name, name_len;       // the qualified name as written ("t:Task")
    int32_t local;                // where the local name starts ("Task")
    int32_t tag, tag_end;         // the start tag, from '<' to just past '>'
    int32_t content, content_end; // between the start and the end tag
    int32_t end;                  // just past the end tag (or the "/>")
    int32_t parent, first_child, next_sibling, last_child;
};

struct xml_doc {
    const char *text; // the UTF-8 text parsed (owned by the caller)
    int32_t len;
    int32_t count; // nodes in use; node 0 is the root element
    char error[96];
    xml_node nodes[XML_MAX_NODES];
};

// Turns the bytes of a document into UTF-8 by its byte-order mark and its
// bytes (never by its declaration): UTF-16LE or UTF-16BE, with a mark or
// starting with "<" as a 16-bit unit, else UTF-8 with or without a mark.
// Writes at most cap - 1 bytes and a zero into out, *out_len the length.
// Returns 1, or 0 with a fixed error text in *error when the bytes are no
// such text (ill-formed UTF-8 or UTF-16, a NUL character) or do not fit.
int xml_to_utf8(const unsigned char *in, size_t n, char *out, size_t cap, size_t *out_len,
                const char **error);

// Parses the UTF-8 text (len bytes) into doc, which then points at text.
// Checks well-formedness: one root element, matching tags, quoted attribute
// values, known entities only, no document type declaration, at most
// XML_MAX_DEPTH levels and XML_MAX_NODES elements. Returns 1, or 0 with
// doc->error set.
int xml_parse(xml_doc *doc, const char *text, size_t len);

// The local name of node i (the part after a prefix), and its length.
const char *xml_local_name(const xml_doc *doc, int i, int *len);

// True when node i's local name is exactly name.
int xml_is(const xml_doc *doc, int i, const char *name);

// The first child of parent whose local name is name, or -1.
int xml_child(const xml_doc *doc, int parent, const char *name);

// The next sibling after node i with the local name name, or -1.
int xml_next_named(const xml_doc *doc, int i, const char *name);

// Writes the character data of node i (entities and CDATA sections decoded,
// child elements and comments left out) into out (capacity cap, cut on a
// UTF-8 boundary). Returns 1, or 0 with "" for no node (i < 0).
int xml_text(const xml_doc *doc, int i, char *out, size_t cap);

// The same for a path of child names below parent ("Settings/Enabled",
// separated by '/'). Returns 0 with "" when an element of the path is missing.
int xml_path_text(const xml_doc *doc, int parent, const char *path, char *out, size_t cap);

// Writes the value of the attribute named name (qualified name as written)
// of node i, entities decoded, into out. Returns 1, or 0 with "".
int xml_attr(const xml_doc *doc, int i, const char *name, char *out, size_t cap);
