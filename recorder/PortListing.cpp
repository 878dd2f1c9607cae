#include "recorder/PortListing.h"

#include "serial/DeviceAccess.h"
#include "serial/PosixComm.h"

namespace {

struct AccessWord {
    DeviceAccess access;
    const char* word;
};
constexpr AccessWord kAccessWords[] = {
    {DeviceAccess::Ready, "ready"},
    {DeviceAccess::Missing, "missing"},
    {DeviceAccess::NoPermission, "no permission (not in the device's group)"},
    {DeviceAccess::Busy, "busy (another program has it open)"},
};

}  // namespace

std::vector<PortEntry> ListPorts(const ComNames& names, bool askRs485) {
    const ComNames::Places& places = names.GetPlaces();
    std::vector<PortEntry> ports;
    for (const auto& [number, path] : names.Ports()) {
        PortEntry entry{number, path, {}, {}, {}};
        const DeviceAccess access = ProbeDeviceAccess(path, places.procDirectory);
        for (const AccessWord& row : kAccessWords)
            if (row.access == access) entry.state = row.word;
        // What tells two alike adapters apart comes first.
        const UsbIdentity usb =
            DescribeUsbAdapter(path, places.deviceDirectory, places.ttyClassDirectory);
        if (!usb.vendorId.empty()) entry.identity = usb.vendorId + ":" + usb.productId;
        for (const std::string* text : {&usb.serialNumber, &usb.manufacturer, &usb.product})
            if (!text->empty()) entry.identity += (entry.identity.empty() ? "" : " ") + *text;
        Rs485Settings rs485;
        if (askRs485 && access == DeviceAccess::Ready && usb.vendorId.empty() &&
            PosixComm::ReadRs485(path, rs485) == 0)
            entry.rs485 = rs485.enabled ? "rs485 on" : "rs485 off";
        ports.push_back(std::move(entry));
    }
    return ports;
}

std::string PortTitle(const PortEntry& port) {
    return "COM" + std::to_string(port.number) + " (" + port.path +
           (port.identity.empty() ? "" : ", " + port.identity) + ")";
}
