#pragma once
// Extraction of one named member from a RAR archive (block layout up to 2.0; members stored or
// packed with the 2.0 method, optionally encrypted). Re-entrant: each call has its own state, so
// threads may extract at the same time, from the same archive or from different ones, and each gets
// what it would get alone.
#include <cstdint>

// Returns 1 and hands out a C-heap block (free it with free) of the member's bytes with their
// count, or returns 0 with *data null and *size 0. The member name ignores case and treats "/",
// "\" and "_" alike. A null password is an empty one.
int rar_get(unsigned char** data, uint32_t* size, const char* member, const char* archive,
            const char* password);
