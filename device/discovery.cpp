#include "device/discovery.h"

#include <algorithm>

namespace ob310 {

namespace {

// Fills `record` from an interface that matched: the two handles with the
// probe's access, the capabilities and the product string through writeHandle.
void FillRecord(HidLayer& hid, const std::string& path, HidAccess access, DeviceInterface& record) {
    record.writeHandle = hid.Open(path, access, HidIoMode::Synchronous);
    record.readHandle = hid.Open(path, access, HidIoMode::Overlapped);
    record.reportsDenied = access == HidAccess::QueryOnly && hid.ReportsDenied(path);

    HidCaps caps{};
    if (!hid.ReadCaps(record.writeHandle, caps)) {
        caps = HidCaps{};
    }
    record.caps = caps;

    // The platform call is given 255 bytes of the 255-character buffer: a
    // USB string descriptor holds at most 126 characters, which fit with the
    // terminating NUL.
    std::array<char16_t, ProductStringBufferChars> buffer{};
    if (hid.ReadProductString(record.writeHandle, buffer.data(), ProductStringLengthGiven)) {
        const auto end = std::find(buffer.begin(), buffer.end(), u'\0');
        record.productString.assign(buffer.begin(), end);
    } else {
        record.productString.clear();
    }
}

}  // namespace

void DeviceInterfaceTable::CloseHandles() {
    for (DeviceInterface& record : records) {
        for (HidHandle* handle : {&record.readHandle, &record.writeHandle}) {
            if (*handle != InvalidHidHandle) {
                hid->Close(*handle);
                // A handle closed here is gone from the table, so a second
                // call can never close it again.
                *handle = InvalidHidHandle;
            }
        }
    }
}

int DiscoverDevices(DeviceInterfaceTable& table) {
    table.CloseHandles();
    for (DeviceInterface& record : table.records) {
        record = DeviceInterface{};
    }
    if (table.hid == nullptr) {
        return 0;
    }
    HidLayer& hid = *table.hid;

    int matched = 0;
    for (const std::string& path : hid.EnumerateInterfaces()) {
        // Some interfaces (keyboards and mice on Windows) refuse read-write
        // access but still answer queries when opened with access 0.
        HidAccess access = HidAccess::ReadWrite;
        HidHandle probe = hid.Open(path, access, HidIoMode::Synchronous);
        if (probe == InvalidHidHandle) {
            access = HidAccess::QueryOnly;
            probe = hid.Open(path, access, HidIoMode::Synchronous);
        }
        if (probe == InvalidHidHandle) {
            continue;
        }

        HidAttributes attributes{};
        const bool readable = hid.ReadAttributes(probe, attributes);
        hid.Close(probe);
        if (!readable || attributes.vendorId != DeviceVendorId ||
            attributes.productId != DeviceProductId) {
            continue;
        }

        // Interfaces past the table's room are counted but get no record and
        // no handles.
        if (matched < MaxDeviceInterfaces) {
            FillRecord(hid, path, access, table.records[static_cast<std::size_t>(matched)]);
        }
        ++matched;
    }
    return matched / InterfacesPerDevice;
}

int FindInterfaceByProduct(const DeviceInterfaceTable& table, const std::u16string& name) {
    for (int index = 0; index < InterfacesPerDevice; ++index) {
        if (table.records[static_cast<std::size_t>(index)].productString == name) {
            return index;
        }
    }
    return 0;
}

}  // namespace ob310
