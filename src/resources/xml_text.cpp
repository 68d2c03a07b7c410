#include "resources/xml_text.h"

#include <tinyxml.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

// TinyXML's character classes: bytes from 127 up count as letters (UTF-8 sequences in names).
bool space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}
bool nameStart(char c) {
    const auto u = static_cast<unsigned char>(c);
    return u >= 127 || (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || u == '_';
}
bool nameChar(char c) {
    return nameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.' || c == ':';
}
bool startsWith(const char* p, const char* prefix) {
    return std::strncmp(p, prefix, std::strlen(prefix)) == 0;
}
// Case-blind, as TinyXML matches "<?xml" and the declaration's attribute names.
bool startsWithAnyCase(const char* p, const char* prefix) {
    for (; *prefix; ++p, ++prefix) {
        char c = *p;
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
        if (c != *prefix) return false;
    }
    return true;
}

class Walk {
public:
    Walk(const char* text, int limit) : p_(text), limit_(limit) {}

    XmlTextCheck run() {
        if (const char* bad = brokenUtf8()) return {"invalid UTF-8", lineOf(bad), 0};
        while (*p_) {
            if (*p_ != '<') {
                advance(1);
                continue;
            }
            start_ = line_;
            const char* problem = nullptr;
            if (startsWith(p_, "<!--")) {
                advance(4);
                if (!skipPast("-->")) problem = "unterminated comment";
            } else if (startsWith(p_, "<![CDATA[")) {
                advance(9);
                if (!skipPast("]]>")) problem = "unterminated CDATA section";
            } else if (startsWithAnyCase(p_, "<?xml")) {
                advance(5);
                problem = declaration();
            } else if (p_[1] == '/') {
                // An end tag closes the open element (or, mismatched, ends the parse); at the top level the
                // parser skips it as unknown markup.
                if (depth_ > 0) --depth_;
                advance(2);
                if (!skipPast(">")) problem = "unterminated markup";
            } else if (nameStart(p_[1])) {
                advance(1);
                problem = startTag();
            } else {
                // "<!DOCTYPE ...>", "<?pi ...>", "< x": unknown markup, which the parser skips to the first
                // '>'.
                advance(1);
                if (!skipPast(">")) problem = "unterminated markup";
            }
            if (problem) return {problem, start_, max_};
        }
        return {nullptr, line_, max_};
    }

private:
    const char* p_;
    int limit_;
    int line_ = 1;
    int start_ = 1;  // line where the markup being walked began
    int depth_ = 0;  // open elements
    int max_ = 0;

    // Reading UTF-8, the parser takes a lead byte and the bytes its value announces as one character,
    // whatever they are: a lead byte before "<!--" hides the comment from it, and the tags inside become
    // real. A text where a byte from 0xC0 up is not followed by as many bytes from 0x80 up (as one of its
    // length would need) is refused, so no markup character is ever swallowed; the data's own files are
    // plain ASCII.
    const char* brokenUtf8() const {
        for (const char* q = p_; *q; ++q) {
            const auto lead = static_cast<unsigned char>(*q);
            if (lead < 0xC0) continue;
            const int more = lead < 0xE0 ? 1 : lead < 0xF0 ? 2 : 3;
            for (int i = 1; i <= more; ++i)
                if (static_cast<unsigned char>(q[i]) < 0x80) return q;
        }
        return nullptr;
    }
    int lineOf(const char* at) const {
        int line = 1;
        for (const char* q = p_; q < at; ++q) line += *q == '\n';
        return line;
    }
    void advance(size_t n) {
        for (; n && *p_; --n, ++p_)
            if (*p_ == '\n') ++line_;
    }
    bool skipPast(const char* end) {
        const char* at = std::strstr(p_, end);
        if (!at) {
            advance(std::strlen(p_));
            return false;
        }
        advance(size_t(at - p_) + std::strlen(end));
        return true;
    }
    void skipSpace() {
        while (space(*p_)) advance(1);
    }
    // A quoted value from its opening quote. XML allows no '<' in it: a quote left open runs into the
    // next tag, so that is where it is caught.
    bool quoted() {
        const char quote = *p_;
        advance(1);
        while (*p_ && *p_ != quote) {
            if (*p_ == '<') return false;
            advance(1);
        }
        if (!*p_) return false;
        advance(1);
        return true;
    }
    // An attribute value after its '='; unquoted ones end at a blank, '/' or '>' and hold no quote.
    const char* value(const char* malformed) {
        skipSpace();
        if (*p_ == '"' || *p_ == '\'') {
            start_ = line_;
            return quoted() ? nullptr : "unterminated quote";
        }
        for (; *p_ && !space(*p_) && *p_ != '/' && *p_ != '>'; advance(1))
            if (*p_ == '"' || *p_ == '\'') return malformed;
        return nullptr;
    }
    // From the element's name to the end of its start tag.
    const char* startTag() {
        const int level = depth_ + 1;
        if (level > max_) max_ = level;
        if (level > limit_) return "nesting too deep";
        while (nameChar(*p_)) advance(1);
        for (;;) {
            skipSpace();
            if (!*p_) return "unterminated markup";
            if (*p_ == '/') {
                if (p_[1] != '>') return "malformed tag";
                advance(2);
                return nullptr;
            }
            if (*p_ == '>') {
                advance(1);
                depth_ = level;
                return nullptr;
            }
            if (!nameStart(*p_)) return "malformed tag";
            while (nameChar(*p_)) advance(1);
            skipSpace();
            if (*p_ != '=') return "malformed tag";
            advance(1);
            if (const char* problem = value("malformed tag")) return problem;
        }
    }
    // After "<?xml": the parser reads "version", "encoding" and "standalone" as attributes (their quoted
    // values may hold '>') and steps over anything else up to a blank or the first '>', which ends it.
    const char* declaration() {
        for (;;) {
            if (!*p_) return "unterminated markup";
            if (*p_ == '>') {
                advance(1);
                return nullptr;
            }
            skipSpace();
            if (startsWithAnyCase(p_, "version") || startsWithAnyCase(p_, "encoding") ||
                startsWithAnyCase(p_, "standalone")) {
                while (nameChar(*p_)) advance(1);
                skipSpace();
                if (*p_ != '=') return "malformed declaration";
                advance(1);
                if (const char* problem = value("malformed declaration")) return problem;
            } else {
                while (*p_ && *p_ != '>' && !space(*p_)) advance(1);
            }
        }
    }
};

}  // namespace

XmlTextCheck xmlCheckText(const char* text, int limit) {
    return Walk(text, limit).run();
}

bool xmlNestingWithin(const char* text, int limit) {
    return xmlCheckText(text, limit).problem == nullptr;
}

void xmlParseDocument(TiXmlDocument& doc, const char* text) {
    char message[512];
    const XmlTextCheck check = xmlCheckText(text, kMaxXmlNesting);
    if (check.problem) {
        std::snprintf(message, sizeof message, "line %i: %s", check.line, check.problem);
        throw std::string(message);
    }
    doc.Parse(text);
    if (doc.Error()) {
        // TinyXML's ErrorRow() already counts lines from 1; it is 0 when the location is unknown.
        int row = doc.ErrorRow() > 0 ? doc.ErrorRow() : 1;
        std::snprintf(message, sizeof message, "line %i: %s", row, doc.ErrorDesc() ? doc.ErrorDesc() : "");
        throw std::string(message);
    }
    // The parser accepts a text that ends before any element (only a declaration, only comments, markup
    // it does not know): a file without its root element is no material or scene at all.
    if (!doc.RootElement()) {
        std::snprintf(message, sizeof message, "line %i: no root element", check.line);
        throw std::string(message);
    }
}
