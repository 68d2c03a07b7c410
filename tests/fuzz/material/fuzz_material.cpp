// Material loader on arbitrary text. Textures resolve without touching the disk or a device: names
// starting with "x" fail, others become empty texture sources. Every text the nesting walk lets through is
// also parsed on its own, and the parser's tree may not nest deeper than the walk counted: the guard
// against the parser's recursion must not be fooled.
//
// Cap, for throughput: texts of at most kMaxInput bytes (the options file gives libFuzzer the same -max_len).
#include <tinyxml.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "resources/diagnostics.h"
#include "resources/material.h"
#include "resources/texture_cache.h"
#include "resources/xml_text.h"
#include "xml_tree_depth.h"

namespace {

constexpr size_t kMaxInput = 8192;

class FakeTextures : public TextureCache {
protected:
    TextureSource* load(std::string name) override {
        if (!name.empty() && name[0] == 'x') throw std::string("file not found: " + name);
        return new TextureSource;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > kMaxInput) return 0;
    std::string text(reinterpret_cast<const char*>(data), size);
    const XmlTextCheck check = xmlCheckText(text.c_str(), kMaxXmlNesting);
    if (!check.problem) {
        TiXmlDocument doc;
        doc.Parse(text.c_str());
        if (qvtest::xmlTreeDepth(&doc) > check.depth) __builtin_trap();
    }
    FakeTextures textures;
    DiagnosticList found;  // the check runs on the same text; collected, not printed
    try {
        delete parseMaterial(text.c_str(), textures, "fuzz.mat", found);
    } catch (const std::string&) {
    }
    return 0;
}
