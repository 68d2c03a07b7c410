// Choice of the kernel set the decoder runs.
#include "video/kernels.h"

namespace vdec {

const Kernels& kernels() {
    static const Kernels& chosen = avx2Kernels()  ? *avx2Kernels()
                                   : kSse2Kernels ? *kSse2Kernels
                                                  : kPortableKernels;
    return chosen;
}

}  // namespace vdec
