#include "video/vdec_session.h"

#include <algorithm>
#include <climits>
#include <new>

namespace {

// The session that holds the decoder of each entry (a test's stand-in keeps no state of the real one).
std::vector<VdecSession*>& holders() {
    static std::vector<VdecSession*> list;
    return list;
}

}  // namespace

VdecSession::VdecSession(VdecEntry entry, uint32_t handle) : entry_(entry), handle_(handle) {}

VdecSession::~VdecSession() {
    release();
}

VdecSession::Step VdecSession::fail(Step step, int32_t result) {
    result_ = result;
    return step;
}

VdecSession::Step VdecSession::open(int32_t width, int32_t height, int32_t outputFormat, int32_t postproc) {
    release();
    params_.width = width;
    params_.height = height;
    params_.outputFormat = outputFormat;
    params_.reserved = 0;
    VdecSizes sizes{};
    int32_t r = entry_(handle_, VDEC_MEMORY_SIZES, &params_, &sizes);
    if (r != VDEC_OK) return fail(Step::MemorySizes, r);
    const uint32_t bytes[6] = {sizes.size1, sizes.size2, sizes.size3, sizes.size4, sizes.size5, sizes.size6};
    try {
        for (int i = 0; i < 6; ++i) {
            std::vector<uint8_t>& b = buffers_[i];
            // An exact-size allocation when the size changes, so that a read past the end is past the
            // allocation (the sanitizers see it); zeroed either way.
            if (b.size() != bytes[i]) {
                b = std::vector<uint8_t>(std::max<uint32_t>(bytes[i], 1));
            } else {
                std::fill(b.begin(), b.end(), 0);
            }
            params_.buffer[i] = b.data();
        }
    } catch (const std::bad_alloc&) {
        return fail(Step::Memory, VDEC_BAD_ARGUMENT);
    }
    r = entry_(handle_, VDEC_INIT, &params_, nullptr);
    if (r != VDEC_OK) return fail(Step::Init, r);
    // The decoder now uses these buffers: an earlier session of the same entry has lost it.
    for (VdecSession*& s : holders())
        if (s->entry_ == entry_) s->holds_ = false;
    auto& list = holders();
    list.erase(std::remove_if(list.begin(), list.end(), [](VdecSession* s) { return !s->holds_; }),
               list.end());
    list.push_back(this);
    holds_ = true;
    r = entry_(handle_, VDEC_SET_OUTPUT, &params_, nullptr);
    if (r != VDEC_OK) return fail(Step::SetOutput, r);
    r = setPostproc(postproc);
    if (r != VDEC_OK) return fail(Step::SetPostproc, r);
    result_ = VDEC_OK;
    return Step::None;
}

int32_t VdecSession::decode(void* output, const void* bitstream, size_t length, bool render) {
    if (!holds_ || length > size_t(INT32_MAX)) return VDEC_FRAME_ERROR;
    VdecFrame frame{output, bitstream, static_cast<int32_t>(length), render ? 1 : 0, 0};
    return entry_(handle_, VDEC_DECODE, &frame, nullptr);
}

int32_t VdecSession::setPostproc(int32_t level) {
    VdecPostproc postproc{level};
    return entry_(handle_, VDEC_SET_POSTPROC, &postproc, nullptr);
}

void VdecSession::release() {
    if (!holds_) return;
    // The decoder keeps using the buffers until it is released, so it goes first.
    entry_(handle_, VDEC_RELEASE, nullptr, nullptr);
    holds_ = false;
    auto& list = holders();
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
}
