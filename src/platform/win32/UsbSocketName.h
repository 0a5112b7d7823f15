// How both Windows roads name the socket a phone is plugged into.
#pragma once

#include <string>
#include <string_view>

namespace norvale {

// The socket a device's SPDRP_LOCATION_INFORMATION names, "Port_#0003.Hub_#0001", as a location
// that is also a valid part of a folder name: "hub1-port3". Empty when the text is not of that
// form (another bus driver's wording).
std::string usbSocketName(std::string_view locationInformation);

}  // namespace norvale
