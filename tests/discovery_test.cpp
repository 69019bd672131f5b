#include "device/discovery.h"

#include <gtest/gtest.h>

#include <set>

#include "simulator/sim_hid_layer.h"

namespace ob310 {
namespace {

// `added` OB310s attached, the last without its sixth interface when `lastShort`,
// then `setup`.
struct CountCase {
    const char* name;
    int added;
    bool lastShort;
    void (*setup)(SimHidLayer&);
    int devices;
    int records;      // records filled
    int openHandles;  // handles left open by discovery
} const CountCases[] = {
    {"NoInterface", 0, false, nullptr, 0, 0, 0},
    {"ListUnavailable", 1, false, [](SimHidLayer& s) { s.SetEnumerationFails(true); }, 0, 0, 0},
    {"FiveMatching", 1, true, nullptr, 0, 5, 10},
    {"SixMatching", 1, false, nullptr, 1, 6, 12},
    {"ElevenMatching", 2, true, nullptr, 1, 11, 22},
    {"TwelveMatching", 2, false, nullptr, 2, 12, 24},
    {"EighteenMatchingFillSixteenAndCountThree", 3, false, nullptr, 3, 16, 32},
    {"ForeignInterfacesBeforeAndAmong", 0, false,
     [](SimHidLayer& s) {
         s.AddForeignInterface({.productString = u"ConfigInterface"});
         SimDeviceOptions ob310;
         ob310.interfaces.insert(ob310.interfaces.begin() + 3,
                                 SimInterfaceOptions{.vendorId = 0x1208});
         ob310.interfaces.insert(ob310.interfaces.begin() + 5,
                                 SimInterfaceOptions{.productId = 0xB311});
         s.AddDevice(ob310);
     },
     1, 6, 12},
    // Interface 4 gets neither writeHandle nor readHandle, 5 no readHandle.
    {"RecordHandlesThatFailStillCount", 1, false,
     [](SimHidLayer& s) {
         s.Interface(0, 4).failingOpens = {2, 3}, s.Interface(0, 5).failingOpens = {3};
     },
     1, 6, 9},
};

TEST(DiscoveryTest, CountsWholeDevicesAndKeepsOnlyRecordHandlesOpen) {
    for (const CountCase& c : CountCases) {
        SCOPED_TRACE(c.name);
        SimHidLayer sim;
        for (int i = 0; i < c.added; ++i)
            sim.AddDevice();
        if (c.lastShort)
            sim.Interface(sim.DeviceCount() - 1, 5).unopenable = true;
        if (c.setup)
            c.setup(sim);
        DeviceInterfaceTable table;
        table.hid = &sim;
        for (DeviceInterface& record : table.records)
            record = {u"stale", {1, 2}, InvalidHidHandle, InvalidHidHandle};  // reused

        EXPECT_EQ(DiscoverDevices(table), c.devices);

        std::set<HidHandle> recordHandles;
        for (int i = 0; i < MaxDeviceInterfaces; ++i) {
            const DeviceInterface& record = table.records[static_cast<std::size_t>(i)];
            if (i >= c.records) {
                EXPECT_EQ(record.productString, u"") << i;
                EXPECT_EQ(record.readHandle, InvalidHidHandle) << i;
                EXPECT_EQ(record.writeHandle, InvalidHidHandle) << i;
                continue;
            }
            // The records keep the enumeration order; foreign interfaces get none.
            if (record.writeHandle != InvalidHidHandle) {
                EXPECT_EQ(record.productString,
                          Ob310Interfaces()[static_cast<std::size_t>(i % 6)].productString)
                    << i;
            }
            for (HidHandle handle : {record.readHandle, record.writeHandle}) {
                if (handle != InvalidHidHandle) {
                    EXPECT_TRUE(recordHandles.insert(handle).second) << i;
                }
            }
        }
        // Every probe is closed: what is open is exactly the records' handles.
        const std::vector<HidHandle> open = sim.OpenHandles();
        EXPECT_EQ(std::set<HidHandle>(open.begin(), open.end()), recordHandles);
        EXPECT_EQ(static_cast<int>(open.size()), c.openHandles);
        EXPECT_EQ(sim.Errors(), std::vector<std::string>{});
    }
}

const std::u16string c = u"ConfigInterface";

// Capabilities and product string come through writeHandle.
TEST(DiscoveryTest, FillsCapsAndProductString) {
    const struct {
        void (*configure)(SimInterfaceOptions&);
        std::u16string productString;
        std::uint16_t outputReportLength;
    } rows[] = {
        {[](SimInterfaceOptions& o) { o.outputReportLength = 33; }, c, 33},
        {[](SimInterfaceOptions& o) { o.capsUnreadable = true; }, c, 0},
        {[](SimInterfaceOptions& o) { o.productStringUnreadable = true; }, u"", 65},
        // 255 bytes reach 127 whole characters and the low byte of the 128th
        // (a USB string of up to 126 fits whole); the zeroed buffer ends the text.
        {[](SimInterfaceOptions& o) { o.productString = std::u16string(130, u'\x141'); },
         std::u16string(127, u'\x141') + u"\x41", 65},
        {[](SimInterfaceOptions& o) { o.productString = std::u16string(u"Config\0Interface", 16); },
         u"Config", 65},
        {[](SimInterfaceOptions& o) { o.failingOpens = {2}; }, u"", 0},  // no writeHandle
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(&row - rows);
        SimHidLayer sim;
        sim.AddDevice();
        row.configure(sim.Interface(0, 4));
        DeviceInterfaceTable table;
        table.hid = &sim;
        ASSERT_EQ(DiscoverDevices(table), 1);
        EXPECT_EQ(table.records[4].productString, row.productString);
        EXPECT_EQ(table.records[4].caps.outputReportByteLength, row.outputReportLength);
        EXPECT_EQ(table.records[4].caps.inputReportByteLength, row.outputReportLength ? 65 : 0);
    }
}

// The exchange suite routes by it; these are the names it must not take.
TEST(LookupTest, FindsExactNameAmongFirstSixOrGivesZero) {
    const std::pair<std::vector<std::u16string>, int> cases[] = {
        {{u"", u"", u"", u"", u"", c}, 5},
        {{u"K", u"P", c, u"M", c}, 2},
        {{u"K", u"configinterface", u"CONFIGINTERFACE", u"ConfigInterface ", u" ConfigInterface",
          u"ConfigInterfac"},
         0},
        {{u"K", c + std::u16string(1, u'\0')}, 0},
    };
    for (const auto& [names, expected] : cases) {
        DeviceInterfaceTable table;
        for (std::size_t i = 0; i < names.size(); ++i)
            table.records[i].productString = names[i];
        EXPECT_EQ(FindInterfaceByProduct(table, ConfigInterfaceName), expected)
            << names.size() << " names, " << expected;
    }
}

}  // namespace
}  // namespace ob310
