#pragma once
// Material and scene files go through TinyXML, which recurses once per element level and accepts some
// texts without a root element (a lone "<", only a declaration, an unterminated comment). Before it parses,
// a text is walked the way TinyXML tokenises it, so the walk sees exactly the element nesting that the
// parser will build: quoted values, comments, CDATA, declarations and other markup are skipped as the
// parser skips them. Markup the walk cannot follow unambiguously is refused instead of guessed at.
class TiXmlDocument;

constexpr int kMaxXmlNesting = 256;

struct XmlTextCheck {
    const char* problem;  // null when the text may be parsed
    int line;             // 1-based line of the problem
    int depth;            // deepest element nesting seen (up to the problem)
};

// Walks a zero-terminated text. Problems: "invalid UTF-8" (a byte from 0xC0 up whose sequence is cut short,
// which the parser would read together with the markup after it), "nesting too deep" (more than `limit`
// open elements),
// "unterminated comment", "unterminated CDATA section", "unterminated quote" (also a quoted value that
// runs into a '<', which XML does not allow and which is how a missing quote shows), "unterminated
// markup", "malformed tag", "malformed declaration".
XmlTextCheck xmlCheckText(const char* text, int limit);

// True when the text's elements nest no deeper than `limit` and the walk found nothing to refuse.
bool xmlNestingWithin(const char* text, int limit);

// Parses a material or scene text into `doc`. Throws "line N: reason" for the walk's problems, for
// TinyXML's errors (its description) and for a text without a root element ("no root element").
void xmlParseDocument(TiXmlDocument& doc, const char* text);
