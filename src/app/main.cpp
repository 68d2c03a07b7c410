#include "app/entry.h"
#include "studio/studio.h"

int main(int argc, char** argv) {
    return qv_main(argc, argv, qv_studio);
}
