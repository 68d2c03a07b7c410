#pragma once
// The shared headless test device, published as g_device for the lifetime of the object.
#include <gtest/gtest.h>

#include "resources/device.h"
#include "test_device.h"

class DeviceScope {
public:
    static constexpr int kWidth = 640, kHeight = 480;

    explicit DeviceScope(UINT width = kWidth, UINT height = kHeight) : device_(width, height) {
        g_device = device_.device();
    }
    ~DeviceScope() { g_device = nullptr; }
    DeviceScope(const DeviceScope&) = delete;
    DeviceScope& operator=(const DeviceScope&) = delete;

    explicit operator bool() const { return device_.ok(); }
    bool ok() const { return device_.ok(); }
    const std::string& error() const { return device_.error(); }
    IDirect3DDevice9* get() const { return device_.device(); }
    std::vector<uint32_t> readBackBuffer() const { return read_back_buffer(device_.device()); }

private:
    TestDevice device_;
};

#define REQUIRE_DEVICE(dev)                                      \
    if (!(dev)) {                                                \
        GTEST_SKIP() << "no Direct3D device: " << (dev).error(); \
    }                                                            \
    static_assert(true, "")

inline int red(uint32_t c) {
    return channel_r(c);
}
inline int green(uint32_t c) {
    return channel_g(c);
}
inline int blue(uint32_t c) {
    return channel_b(c);
}
inline int alpha(uint32_t c) {
    return channel_a(c);
}
