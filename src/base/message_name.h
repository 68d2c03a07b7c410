#pragma once
// Names as messages show them: a name taken from a file or a command line may be any length, and a
// message shows at most its first kMessageNameChars characters followed by "...".
#include <cstddef>
#include <string>

constexpr size_t kMessageNameChars = 60;

std::string messageName(const std::string& name);
