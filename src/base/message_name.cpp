#include "base/message_name.h"

std::string messageName(const std::string& name) {
    if (name.size() <= kMessageNameChars + 3) return name;
    // Never inside a UTF-8 sequence: the cut backs up to the start of a character.
    size_t cut = kMessageNameChars;
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
    return name.substr(0, cut) + "...";
}
