#include "fx/video_texture.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "data/memfile.h"
#include "fx/vpg.h"
#include "resources/device.h"

uint32_t nextDecoderHandle = 1;

namespace {
// Each record's coded picture is read here before it is decoded; one decoder works at a time.
unsigned char bitstreamBuffer[kVpgMaxRecordBytes];
}  // namespace

VideoTexture::VideoTexture(const char* fileName, VdecEntry decoder)
    : decoderHandle(nextDecoderHandle), name_(fileName), decoder_(decoder, nextDecoderHandle) {
    try {
        file = memfile_open(fileName);
        if (!file) throw std::string("file not found");
        char magic[8];
        if (memfile_read(magic, 1, 8, file) != 8 || std::memcmp(magic, kVpgMagic, 8) != 0)
            throw std::string("not a VPG-file.");
        VpgHeader header{};
        if (memfile_read(&header.width, 4, 1, file) != 1 || memfile_read(&header.height, 4, 1, file) != 1 ||
            memfile_read(&header.frameCount, 4, 1, file) != 1 ||
            memfile_read(&header.frameRate, 4, 1, file) != 1)
            throw std::string("not a VPG-file.");
        if (vpgHeaderProblem(header, file->length)) throw std::string("not a VPG-file.");
        // A header that claims more pictures than the file holds whole records for (or a record longer
        // than the bitstream buffer among them) is a damaged file: refused here rather than played with
        // the last picture held over the missing ones and the loop's length taken from the header.
        if (vpgRecordsPresent(file->data, file->length, kVpgMaxRecordBytes, header.frameCount) <
            header.frameCount)
            throw std::string("not a VPG-file.");
        width = header.width;
        height = header.height;
        frameCount = header.frameCount;
        frameRate = header.frameRate;

        switch (decoder_.open(static_cast<int32_t>(width), static_cast<int32_t>(height), 4, 0)) {
            case VdecSession::Step::None:
                break;
            case VdecSession::Step::MemorySizes:
                throw std::string("failed to init decoder. (1)");
            case VdecSession::Step::Memory:
                throw std::string("out of memory");
            case VdecSession::Step::Init:
                throw std::string("failed to init decoder. (2)");
            case VdecSession::Step::SetOutput:
                throw std::string("failed to init decoder. (3)");
            case VdecSession::Step::SetPostproc:
                throw std::string("failed to init decoder. (4)");
        }
        firstRecord = memfile_tell(file);
        // Counted as past the end, so that the first update rewinds as every later wrap does: target k then
        // always shows record k, and a picture depends on its time alone, not on whether the clip has
        // looped before.
        recordCounter = frameCount + 1;
        pixels = static_cast<unsigned char*>(std::malloc(size_t(width) * height * 4));
        if (!pixels) throw std::string("out of memory");
        if (FAILED(g_device->CreateTexture(width, height, 0, D3DUSAGE_AUTOGENMIPMAP, D3DFMT_X8R8G8B8,
                                           D3DPOOL_MANAGED, &texture, nullptr)) ||
            !texture) {
            texture = nullptr;
            throw std::string("failed to create video-texture.");
        }
        nextDecoderHandle += 1;
    } catch (...) {
        releaseAll();
        throw;
    }
}

VideoTexture::~VideoTexture() {
    releaseAll();
}

void VideoTexture::releaseAll() {
    decoder_.release();
    std::free(pixels);
    pixels = nullptr;
    memfile_close(file);
    file = nullptr;
    if (texture) texture->Release();
    texture = nullptr;
}

void VideoTexture::streamError() const {
    // From the first update on every step that reads counts from the rewind, so the counter is the record's
    // number in the file (0 for the first).
    throw name_ + ": error in stream!! (record " + std::to_string(recordCounter) + ")";
}

void VideoTexture::update(float time) {
    const uint32_t target = vpgTarget(time, frameCount, frameRate);
    if (target == recordCounter) return;
    // Backwards (a seek, or the loop starting over): decoding restarts from the first record, as on the first
    // update, so the picture is the one a forward run shows, without decoding the rest of the clip first.
    if (target < recordCounter) recordCounter = frameCount + 1;
    // The picture shown: the target's, or the last record's for a target past it.
    const uint32_t shown = target < frameCount ? target : frameCount - 1;
    while (recordCounter != target) {
        if (recordCounter > frameCount) {
            memfile_seek(file, firstRecord, 0);
            recordCounter = 0;
        } else {
            recordCounter += 1;
        }
        uint32_t length = 0;
        switch (vpgReadRecord(file, bitstreamBuffer, sizeof bitstreamBuffer, &length)) {
            case VpgRecord::None:
                continue;  // past the last record: nothing to decode until the rewind
            case VpgRecord::Damaged:
                streamError();
            case VpgRecord::Read:
                break;
        }
        // Records on the way to the one shown are decoded without being converted to pixels.
        if (decoder_.decode(pixels, bitstreamBuffer, length, recordCounter >= shown) != VDEC_OK)
            streamError();
    }
    D3DLOCKED_RECT locked{};
    if (FAILED(texture->LockRect(0, &locked, nullptr, 0))) return;
    if (!locked.pBits) {
        texture->UnlockRect(0);
        return;
    }
    const size_t row = size_t(width) * 4;
    for (uint32_t r = 0; r < height; ++r)
        std::memcpy(static_cast<unsigned char*>(locked.pBits) + size_t(r) * locked.Pitch, pixels + r * row,
                    row);
    texture->UnlockRect(0);
    texture->GenerateMipSubLevels();
}
