#include "resources/xml_vocabulary.h"

#include <tinyxml.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

bool oneOf(const char* value, const char* const* names) {
    for (const char* const* n = names; *n; ++n)
        if (!std::strcmp(value, *n)) return true;
    return false;
}

void checkXmlAttributes(const TiXmlElement* e, const XmlAttributes& allowed, const std::string& file,
                        Diagnostics& out) {
    std::vector<const char*> all;
    for (const char* const* n = allowed.numbers; *n; ++n) all.push_back(*n);
    for (const char* const* n = allowed.others; *n; ++n) all.push_back(*n);
    all.push_back(nullptr);
    for (const TiXmlAttribute* a = e->FirstAttribute(); a; a = a->Next()) {
        const char* name = a->Name();
        if (oneOf(name, allowed.numbers)) {
            if (!finiteNumberText(a->Value())) {
                char read[64];
                std::snprintf(read, sizeof read, "%g",
                              static_cast<double>(static_cast<float>(std::atof(a->Value()))));
                const bool comma = std::strchr(a->Value(), ',') != nullptr;
                out.warning(file, a->Row(),
                            std::string(name) + "=\"" + a->Value() + "\" on <" + e->Value() +
                                "> is not a finite number (read as " + read +
                                (comma ? "; decimals take a point" : "") + ")");
            }
        } else if (!oneOf(name, allowed.others)) {
            const char* near = nearestName(name, all.data());
            if (all.size() == 1)
                out.warning(
                    file, a->Row(),
                    "unknown attribute " + std::string(name) + " on <" + e->Value() + ">, which has none");
            else if (near)
                out.warning(file, a->Row(),
                            "unknown attribute " + std::string(name) + ", did you mean " + near + "?");
            else
                out.warning(file, a->Row(),
                            "unknown attribute " + std::string(name) + " on <" + e->Value() +
                                "> (valid: " + listNames(all.data()) + ")");
        }
    }
}

void reportUnknownXmlElement(const TiXmlElement* e, const char* const* valid, const std::string& file,
                             Diagnostics& out) {
    const std::string name = e->Value();
    const TiXmlNode* parent = e->Parent();
    const std::string where =
        parent && parent->ToElement() ? std::string(" in <") + parent->Value() + ">" : "";
    if (const char* near = nearestName(name, valid))
        out.warning(file, e->Row(), "unknown element <" + name + ">, did you mean <" + near + ">?");
    else
        out.warning(file, e->Row(),
                    "unknown element <" + name + ">" + where + " (valid: " + listNames(valid) + ")");
}

std::string invalidChoiceText(const char* what, const char* value, const char* const* valid) {
    return std::string(what) + " \"" + value + "\" (valid: " + listNames(valid) + ")";
}
