// The Linux HID layer: hidraw device nodes, described through sysfs.
//
// Windows presents one HID interface per top-level collection of a report
// descriptor; Linux has one hidraw node per USB HID interface. To count and
// name interfaces as Windows does, this layer presents one interface per
// top-level collection of each node:
//
//   /dev/hidraw3     the node's first top-level collection
//   /dev/hidraw3#1   its second one, /dev/hidraw3#2 the third, and so on
//
// All of them share the node's attributes and product string; each has its own
// usage and report lengths. Reports go to and come from the node itself, which
// hands every input report of all its collections to every reader: a reader of
// one collection takes only the reports whose ID belongs to that collection.
//
// Interfaces are listed grouped by USB device (in the order of their sysfs
// paths, numbers compared as numbers), by interface number within a device.
#pragma once

#include <poll.h>

#include <chrono>
#include <memory>
#include <string>

#include "device/hid_layer.h"

namespace ob310 {

// The time a read waits on: the monotonic clock and poll(2). A read's wait
// ends when Now() reaches its deadline, however many polls it takes.
class HidrawClock {
public:
    virtual ~HidrawClock() = default;
    virtual std::chrono::steady_clock::time_point Now() = 0;
    virtual int Poll(pollfd* fds, nfds_t count, int timeoutMs) = 0;
};

// The system's clock and poll(2).
HidrawClock& SystemHidrawClock();

// A hidraw layer over `classDir` (the hidraw class directory of sysfs,
// normally /sys/class/hidraw) and `devDir` (where the device nodes are,
// normally /dev), waiting on `clock`, which must outlive it. Tests point both
// folders at a tree of their own and pass a virtual clock.
std::unique_ptr<HidLayer> CreateHidrawLayer(const std::string& classDir, const std::string& devDir,
                                            HidrawClock& clock = SystemHidrawClock());

}  // namespace ob310
