// SPDX-License-Identifier: GPL-3.0-or-later
// The serial ports present, for the settings dialog's GPS port list.
#pragma once

#include <string>
#include <vector>

namespace kv {

// Full paths of devRoot/ttyS<n>, ttyUSB<n>, ttyACM<n> and every devRoot/serial/by-id/ link, each
// group in numeric order. A ttyS<n> whose sysRoot/class/tty/ttyS<n>/type says 0 has no UART
// behind it and is left out.
std::vector<std::string> ListSerialPorts(const std::string& devRoot = "/dev",
                                         const std::string& sysRoot = "/sys");

} // namespace kv
