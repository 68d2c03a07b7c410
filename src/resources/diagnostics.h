#pragma once
// Problems found in a data file, with the file and the line they are on. The loaders report what they
// read past (unknown names, numbers that are not numbers) here as warnings and go on; `qvtool check`
// collects everything the same code finds, so the tool and the run never disagree.
#include <cstdio>
#include <string>
#include <vector>

struct Diagnostic {
    enum class Severity { warning, error };
    Severity severity;
    std::string file;
    int line;  // 1-based; 0 when the problem is the file as a whole
    std::string message;

    // "file:line: message", or "file: message" without a line.
    std::string text() const;
};

class Diagnostics {
public:
    virtual ~Diagnostics() = default;
    void warning(const std::string& file, int line, const std::string& message) {
        report({Diagnostic::Severity::warning, file, line, message});
    }
    void error(const std::string& file, int line, const std::string& message) {
        report({Diagnostic::Severity::error, file, line, message});
    }
    virtual void report(const Diagnostic& d) = 0;
};

// Keeps every problem, in the order reported.
class DiagnosticList : public Diagnostics {
public:
    void report(const Diagnostic& d) override { list_.push_back(d); }
    const std::vector<Diagnostic>& list() const { return list_; }
    bool empty() const { return list_.empty(); }

private:
    std::vector<Diagnostic> list_;
};

// What the production does at load time: each warning is one line on standard error. Errors are not
// printed here: the loader that finds one throws it, and the entry shows it.
class WarningPrinter : public Diagnostics {
public:
    explicit WarningPrinter(FILE* out) : out_(out) {}
    void report(const Diagnostic& d) override;

private:
    FILE* out_;
};

// The process's printer on standard error, the loaders' default.
Diagnostics& loadWarnings();

// Of `candidates` (a null-terminated list), the one nearest to `name` by edit distance, when it is near
// enough to be a likely typing slip (at most a third of the longer name differs); else null.
const char* nearestName(const std::string& name, const char* const* candidates);

// "a, b, c" from a null-terminated list.
std::string listNames(const char* const* names);

// Whether the whole text is one finite number as the C library reads it; `atof` makes 0 of what is not
// a number and infinity of what is too large.
bool finiteNumberText(const char* text);
