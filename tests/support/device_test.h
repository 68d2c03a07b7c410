#pragma once
// A test fixture with a headless device of its own in d (not published as g_device); a test without a
// device fails in SetUp, before its body runs.
#include <gtest/gtest.h>

#include "test_device.h"

class DeviceTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dev.ok()) << dev.error();
        d = dev.device();
    }

    TestDevice dev;
    IDirect3DDevice9* d = nullptr;
};
