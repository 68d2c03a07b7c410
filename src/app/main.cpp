#include "app/entry.h"

int main() {
    return qv_main();
}
