// One decoder session over the calling interface: it asks for the six buffer sizes, owns the buffers
// (zero-filled, as the decoder expects of buffers 4 to 6), sets the decoder up in the order the video
// texture uses, decodes pictures, and gives the process-wide decoder back before its buffers go.
//
// The decoder keeps one state for the whole process, so one session decodes at a time: a session that is
// set up later takes the decoder over. The earlier one then refuses to decode (its buffers are no longer
// the decoder's) and, when it ends, leaves the later one's decoder alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "video/vdec.h"

// The decoder entry a session calls; vdec_call unless a test stands in for it.
using VdecEntry = int32_t (*)(uint32_t handle, uint32_t opcode, void* param1, void* param2);

class VdecSession {
public:
    // The set-up steps in calling order; open() returns the one that failed, or None.
    enum class Step { None, MemorySizes, Memory, Init, SetOutput, SetPostproc };

    explicit VdecSession(VdecEntry entry = vdec_call, uint32_t handle = 1);
    ~VdecSession();
    VdecSession(const VdecSession&) = delete;
    VdecSession& operator=(const VdecSession&) = delete;

    // VDEC_MEMORY_SIZES, the six buffers, VDEC_INIT, VDEC_SET_OUTPUT and VDEC_SET_POSTPROC, stopping at
    // the first that fails (result() then holds the decoder's code; Memory: a buffer could not be had).
    // A session opened before is released first; its buffers are kept where the size is the same and
    // cleared as new ones would be, else allocated afresh at the exact size.
    Step open(int32_t width, int32_t height, int32_t outputFormat = 4, int32_t postproc = 0);
    // VDEC_DECODE of one coded picture into output (width * height * 4 bytes); render false decodes only.
    // VDEC_FRAME_ERROR when this session does not hold the decoder.
    int32_t decode(void* output, const void* bitstream, size_t length, bool render = true);
    int32_t setPostproc(int32_t level);
    // VDEC_RELEASE when this session holds the decoder; the buffers stay for the next open().
    void release();

    bool holdsDecoder() const { return holds_; }
    int32_t result() const { return result_; }
    int32_t width() const { return params_.width; }
    int32_t height() const { return params_.height; }

private:
    Step fail(Step step, int32_t result);

    VdecEntry entry_;
    uint32_t handle_;
    VdecParams params_{};
    std::vector<uint8_t> buffers_[6];
    int32_t result_ = VDEC_OK;
    bool holds_ = false;
};
