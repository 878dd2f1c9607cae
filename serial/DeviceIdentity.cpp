#include "serial/DeviceIdentity.h"

#include <sys/stat.h>

#include "serial/DeviceAccess.h"

DeviceIdentity IdentifyPort(const ComNames& names, int portNumber) {
    DeviceIdentity identity;
    identity.pinned = names.PinnedPorts().count(portNumber) > 0;
    identity.path = names.PathForPort(portNumber);
    struct stat info {};
    identity.present = !identity.path.empty() && stat(identity.path.c_str(), &info) == 0;
    if (!identity.present) return identity;
    const ComNames::Places& places = names.GetPlaces();
    const UsbIdentity usb =
        DescribeUsbAdapter(identity.path, places.deviceDirectory, places.ttyClassDirectory);
    identity.vendorId = usb.vendorId;
    identity.productId = usb.productId;
    identity.serialNumber = usb.serialNumber;
    identity.busPlace = usb.byPathPath.substr(usb.byPathPath.rfind('/') + 1);
    return identity;
}

bool IsSameDevice(const DeviceIdentity& was, const DeviceIdentity& now) {
    if (!now.present || was.pinned != now.pinned) return false;
    if (was.pinned) return true;
    if (now.vendorId != was.vendorId || now.productId != was.productId ||
        now.serialNumber != was.serialNumber)
        return false;
    if (!was.serialNumber.empty()) return true;
    if (!was.busPlace.empty()) return now.busPlace == was.busPlace;
    return now.path == was.path;
}
