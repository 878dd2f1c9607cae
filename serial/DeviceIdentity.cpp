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
    return identity;
}

bool IsSameDevice(const DeviceIdentity& was, const DeviceIdentity& now) {
    if (!now.present || was.pinned != now.pinned) return false;
    if (was.pinned) return true;
    // Two adapters of one model without serial numbers cannot be told apart:
    // the same model under the same number is taken for the same adapter.
    if (!was.vendorId.empty())
        return now.vendorId == was.vendorId && now.productId == was.productId &&
               now.serialNumber == was.serialNumber;
    return now.path == was.path;
}
