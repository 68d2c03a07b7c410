#include "app/entry.h"

int main(int argc, char** argv) {
    return qv_main(argc, argv);
}
