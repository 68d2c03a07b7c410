// Reversible VLC in a data-partitioned I-VOP: no encoder at hand writes it, so the record is built here
// bit by bit and the picture is checked against the arithmetic it implies.
#include <gtest/gtest.h>

#include "video/kernels.h"
#include "video_test_util.h"

namespace {

class BitWriter {
public:
    void put(uint32_t value, int bits) {
        for (int i = bits - 1; i >= 0; --i) {
            if (bit_ == 0) bytes_.push_back(0);
            if ((value >> i) & 1) bytes_.back() |= uint8_t(0x80 >> bit_);
            bit_ = (bit_ + 1) & 7;
        }
    }
    void put(const char* code) {
        for (const char* c = code; *c; ++c)
            if (*c == '0' || *c == '1') put(uint32_t(*c - '0'), 1);
    }
    // next_start_code(): a zero bit, then ones up to the byte boundary.
    void stuff() {
        put(0, 1);
        while (bit_) put(1, 1);
    }
    const std::vector<uint8_t>& bytes() const { return bytes_; }

private:
    std::vector<uint8_t> bytes_;
    int bit_ = 0;
};

std::vector<uint8_t> rvlcIntraRecord() {
    BitWriter w;
    w.put(0x00000100, 32);  // video_object_start_code
    w.put(0x00000120, 32);  // video_object_layer_start_code
    w.put(
        "0 00000001 0 0001 0 00 1");  // random access, type, no identifier, aspect 1, no control, rectangular
    w.put(25, 16);                    // vop_time_increment_resolution
    w.put("1 0 1");                   // marker, fixed_vop_rate 0, marker
    w.put(16, 13);
    w.put("1");
    w.put(16, 13);
    w.put("1 0 1 0 0 0 1 1 1 1 0");  // marker, progressive, obmc off, no sprite, 8 bit, H.263 quantisation,
                                     // no complexity estimation, no resync, data partitioned, RVLC, no
                                     // scalability
    w.stuff();
    w.put(0x000001B6, 32);
    w.put("00 0 1 00000 1 1 000");  // I-VOP, time 0, vop_coded, intra_dc_vlc_thr 0
    w.put(4, 5);                    // vop_quant
    // First partition: mcbpc (intra, cbpc 00) and the DC sizes: luma block 0 size 2 (+3), others 0.
    w.put("1");
    w.put("10 11");
    w.put("011 011 011");
    w.put("11 11");
    w.put(0x6B001, 19);  // dc_marker
    // Second partition: ac_pred_flag 0, cbpy 1000 (block 0 coded).
    w.put("0 00010");
    // Texture, Table B-23: (0, 0, +2) = 111s; then an escape: 0000 1, LAST 1, RUN 5, marker, LEVEL 100,
    // marker, 0000 and the sign (negative).
    w.put("1110");
    w.put("00001 1");
    w.put(5, 6);
    w.put("1");
    w.put(100, 11);
    w.put("1 0000 1");
    w.stuff();
    return w.bytes();
}

TEST(VideoRvlc, DataPartitionedIntraPicture) {
    std::vector<uint8_t> record = rvlcIntraRecord();
    vtest::Session s(16, 16);
    ASSERT_EQ(s.decode(record), VDEC_OK);
    std::vector<uint8_t> planes = s.planes();
    ASSERT_EQ(planes.size(), 256u + 2 * 64);
    // Block 0: DC (3 + 1024 // 8) * 8 = 1048; the AC levels dequantised with QP 4: 2 at zigzag 1 gives
    // 5 * 4 - 1 = 19, -100 at zigzag 7 (raster 10) gives -(201 * 4 - 1) = -803.
    int16_t blk[64] = {};
    blk[0] = 1048;
    blk[1] = 19;
    blk[10] = -803;
    vdec::kReferenceKernels.idct(blk);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
            int expected = (x < 8 && y < 8) ? std::min(255, std::max(0, int(blk[y * 8 + x]))) : 131;
            ASSERT_EQ(planes[y * 16 + x], expected) << x << "," << y;
        }
    // Chroma: predicted DC 1024 alone, 128 everywhere.
    for (size_t i = 256; i < planes.size(); ++i) ASSERT_EQ(planes[i], 128) << i;

    // Cut inside the texture partition: a frame error, not a picture.
    vtest::Session t(16, 16);
    EXPECT_EQ(t.decode(record.data(), record.size() - 4), VDEC_FRAME_ERROR);
}

}  // namespace
