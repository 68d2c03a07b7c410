#include "platform/win32/headless.h"

#include <cstdlib>
#include <cstring>

namespace platform {

bool headlessTest() {
    const char* value = std::getenv("QV_HEADLESS_TEST");
    return value && *value && std::strcmp(value, "0") != 0;
}

}  // namespace platform
