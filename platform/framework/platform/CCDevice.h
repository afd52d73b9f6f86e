// Device: facts about the machine.
#pragma once

#include <string>

namespace cocos2d {

class Device {
public:
    // Dots per inch of the primary monitor, from its physical size and video mode, read once per
    // view and again after a monitor came or went; 96 when the size is unknown, and 96 headless
    // (or the value set by setDPIForTest). Main thread.
    static int getDPI();
    // [hook] Overrides getDPI; 0 removes the override.
    static void setDPIForTest(int dpi);
    // [hook] How many times getDPI asked the monitor (its video mode) so far.
    static int getMonitorQueryCountForTest();
    // Design units per inch: getDPI over the framebuffer pixels of one design unit (2 on a HiDPI
    // screen at content scale 2), so that a length in millimetres comes out the same on every
    // screen. getDPI without a view.
    static float getUnitsPerInch();
    // The uname fields (system, node, release, machine) and the machine-id when readable,
    // separated by spaces. Any thread.
    static std::string getDeviceInfo();

private:
    Device() = delete;
};

} // namespace cocos2d
