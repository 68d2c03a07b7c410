#pragma once
// Extraction of one named member from a RAR archive (block layout up to 2.0; members stored or
// packed with the 2.0 method, optionally encrypted). Re-entrant: each call has its own state, so
// threads may extract at the same time, from the same archive or from different ones, and each gets
// what it would get alone.
#include <cstdint>

// Why an extraction gave nothing.
enum class RarStatus {
    kOk,
    kNoArchive,      // there is no file by the archive's name
    kUnreadable,     // the file is there but cannot be opened or read
    kNotArchive,     // it starts with neither marker
    kNoMember,       // every block was walked and none is the member
    kTruncated,      // the archive ends inside a block: a header or a member's data is cut short
    kBadHeader,      // a block header fails its check or holds sizes that cannot be right
    kBadData,        // the member's packed data does not unpack
    kBadCrc,         // the member unpacks but fails its CRC
    kWrongPassword,  // encrypted, and the password given (or none) does not open it
    kUnsupported,    // an unpack version outside 13 to 20, or a sub-block before the member
    kNoMemory,
};

// Returns 1 and hands out a C-heap block (free it with free) of the member's bytes with their
// count, or returns 0 with *data null and *size 0. The member name ignores case and treats "/",
// "\" and "_" alike. A null password is an empty one. When status is not null it receives the
// outcome (kOk exactly when the result is 1).
//
// The 2.0 cipher carries no password check: a wrong password shows as a member that fails to unpack
// or fails its CRC. Such a failure of an encrypted member is told apart from damage by extracting
// another encrypted member of the archive with the same password: when that one comes out whole, the
// password is right and the failure is damage (kBadData, kBadCrc); otherwise, or when the archive has
// no other such member, it is kWrongPassword.
int rar_get(unsigned char** data, uint32_t* size, const char* member, const char* archive,
            const char* password, RarStatus* status = nullptr);

// A short description of a status ("wrong password", "archive is truncated", ...).
const char* rar_status_text(RarStatus status);
