// How both Windows roads name the socket a phone is plugged into.
#pragma once

#include <string>
#include <string_view>

namespace norvale {

// The socket a device's SPDRP_LOCATION_INFORMATION names, "Port_#0003.Hub_#0001" (decimal, at
// least four digits each), as a location that is also a valid part of a folder name:
// "hub1-port3". Empty when the text is not of that form (another bus driver's wording).
// The hub's number is the one the hub driver gave the hub when it started, not a place in the
// tree, so it may differ after a restart; DEVPKEY_Device_LocationPaths
// ("PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(3)#USB(2)") would name the socket for good, but a name
// from it would no longer match what journals and settings have kept as "hubN-portM".
std::string usbSocketName(std::string_view locationInformation);

}  // namespace norvale
