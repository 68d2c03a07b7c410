#pragma once
// The clip as a texture: a VPG container read whole, stepped record by record to the picture for the
// time asked, decoded and copied into an X8R8G8B8 texture with automatic mip-maps.
#include <cstdint>
#include <string>

#include "resources/texture_source.h"
#include "video/vdec_session.h"

struct MemoryFile;

class VideoTexture : public TextureSource {
public:
    MemoryFile* file = nullptr;  // the whole container
    uint32_t decoderHandle = 0;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t frameCount = 0;
    uint32_t recordCounter = 0;       // the record last decoded; frameCount + 1 before the first
    uint32_t firstRecord = 0;         // file offset of the first record
    unsigned char* pixels = nullptr;  // width * height * 4 bytes: blue, green, red, 0, last row first
    float frameRate = 0;

    // Throws "file not found", "not a VPG-file." (also for a header that counts more pictures than the
    // file holds whole records for, or a record longer than the bitstream buffer among them), "failed to
    // init decoder. (1)" to "(4)", "out of memory" or "failed to create video-texture.".
    explicit VideoTexture(const char* fileName, VdecEntry decoder = vdec_call);
    // Gives back the file, the pixels and the decoder's buffers, and releases the decoder.
    ~VideoTexture() override;

    // Brings the texture to the picture for time (seconds), looping over the clip; any time in any order
    // gives the picture a forward run from the start shows at it. Throws the file's name
    // with "error in stream!!" and the record's number for a record that is damaged or does not decode,
    // as in "test.vpg: error in stream!! (record 12)".
    void update(float time);

private:
    std::string name_;
    VdecSession decoder_;  // the decoder's six buffers and its state while the texture lives
    void releaseAll();
    [[noreturn]] void streamError() const;
};

// The handle the next video texture takes; starts at 1 (the decoder refuses 0).
extern uint32_t nextDecoderHandle;
