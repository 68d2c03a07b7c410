#pragma once
// Whether this run is a headless test: QV_HEADLESS_TEST set to anything but "" or "0". Such a run has no
// display to wait for or show on, whatever DISPLAY says; every platform layer asks here.
namespace platform {
bool headlessTest();
}
