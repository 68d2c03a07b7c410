#pragma once
// A data file held whole in memory, looked up by name in the data archive "gorvel.yo" first and
// under the directory "data" second. Read afterwards with stdio-like operations.
#include <cstddef>
#include <cstdint>

struct MemoryFile {
    uint32_t length;      // bytes held
    unsigned char* data;  // C-heap block of exactly length bytes, no terminator added
    uint32_t position;    // read position, 0 after the lookup
};

// The data archive in the working directory and the production's password for it.
extern const char kArchiveName[];  // "gorvel.yo"
extern const char kArchivePassword[];

// New record owned by the caller (give it back with memfile_close), or null when the file is in
// neither place. The archive "gorvel.yo" in the working directory is tried first; a file it does not
// hold is read from "data/" + name, whose parts match in any letter case (an exact match first). A name
// whose "data/" path does not fit 256 bytes is not looked up on disk.
//
// Throws the reason as a std::string when the archive holds or may hold the file but cannot give it
// (wrong password, truncated or damaged, not an archive), and when neither the archive nor a "data"
// folder exists. When "data" holds a copy that differs from the archive's, one line on standard error
// says so (once per file); the archive's is returned.
MemoryFile* memfile_open(const char* name);

// Reading ahead: hands a file opened under `name` to the next memfile_open of exactly that name, which
// then takes it instead of reading again (once). Any file kept before under that name is closed.
// Thread-safe, so a file can be read ahead on another thread.
void memfile_keep(const char* name, MemoryFile* file);
// Closes the file kept under `name`, if no open has taken it.
void memfile_drop_kept(const char* name);

// Frees the block and the record; null is ignored. Returns 0.
int memfile_close(MemoryFile* file);

// The position; 0 for null.
uint32_t memfile_tell(const MemoryFile* file);

// Copies whole elements of size bytes (fread's argument order); returns how many were copied. An
// element that would cross the end stays unread and the position stays before it.
size_t memfile_read(void* dest, size_t size, size_t count, MemoryFile* file);

// Origin 0 sets the position to offset, 1 adds offset, 2 sets it to length - offset. The position
// is not clamped; reads from outside the block deliver nothing. Always returns 0.
int memfile_seek(MemoryFile* file, long offset, int origin);

// A new heap copy (free it with free) of the zero-terminated string at the position, which moves
// past the terminator. Null for a null file, or when no terminator lies inside the block from the
// position on (the position is then unchanged).
char* memfile_read_string(MemoryFile* file);
