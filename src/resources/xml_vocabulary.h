#pragma once
// The names a material or scene file may use, checked where the loaders read them: an element or
// attribute the loader would pass over, and a number `atof` would turn into 0 or infinity, are reported
// with the file and line (and the nearest valid name), and the load goes on as before.
#include <string>
#include <vector>

#include "resources/diagnostics.h"

class TiXmlElement;

// A file name that a data file refers to, with the line that names it.
struct XmlReference {
    std::string name;
    int line;
};

// An element's attributes: those read as numbers, and the others (names, modes); null-terminated lists.
struct XmlAttributes {
    const char* const* numbers;
    const char* const* others;
};

// Reports attributes of `e` outside `allowed` and number attributes whose text is not a finite number.
void checkXmlAttributes(const TiXmlElement* e, const XmlAttributes& allowed, const std::string& file,
                        Diagnostics& out);

// Reports an element that the loader passes over where it stands: "unknown element <difuse>, did you
// mean <diffuse>?", or the valid names when none is near.
void reportUnknownXmlElement(const TiXmlElement* e, const char* const* valid, const std::string& file,
                             Diagnostics& out);

// The text for a value outside an enumeration: what + ' "value" (valid: a, b, c)'.
std::string invalidChoiceText(const char* what, const char* value, const char* const* valid);

// Whether value is one of the null-terminated list.
bool oneOf(const char* value, const char* const* names);
