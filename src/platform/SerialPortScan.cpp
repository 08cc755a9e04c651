// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/SerialPortScan.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace kv {
namespace {

namespace fs = std::filesystem;

// Name prefixes of serial devices: on-board UARTs, USB serial adapters, USB modems (CDC ACM).
constexpr const char* kSerialPrefixes[] = {"ttyS", "ttyUSB", "ttyACM"};

// The prefix index and number of a name like ttyUSB12; false for any other name.
bool ParsePortName(const std::string& name, size_t& prefixIndex, unsigned long& number) {
    for (size_t i = 0; i < std::size(kSerialPrefixes); ++i) {
        const std::string prefix = kSerialPrefixes[i];
        if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) continue;
        const std::string digits = name.substr(prefix.size());
        if (!std::all_of(digits.begin(), digits.end(),
                         [](unsigned char c) { return std::isdigit(c); }) ||
            digits.size() > 9)
            continue;
        prefixIndex = i;
        number = std::stoul(digits);
        return true;
    }
    return false;
}

// The 8250 driver makes ttyS0..ttyS31 whether or not a UART answers; type 0 means none does.
bool HasNoUart(const std::string& sysRoot, const std::string& name) {
    std::ifstream type(fs::path(sysRoot) / "class" / "tty" / name / "type");
    int portType = -1;
    return type >> portType && portType == 0;
}

std::vector<std::string> NumberedPorts(const std::string& devRoot, const std::string& sysRoot) {
    std::vector<std::pair<std::pair<size_t, unsigned long>, std::string>> found;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(devRoot, error)) {
        const std::string name = entry.path().filename().string();
        size_t prefixIndex;
        unsigned long number;
        if (!ParsePortName(name, prefixIndex, number)) continue;
        if (prefixIndex == 0 && HasNoUart(sysRoot, name)) continue;
        found.push_back({{prefixIndex, number}, entry.path().string()});
    }
    std::sort(found.begin(), found.end());
    std::vector<std::string> paths;
    for (auto& port : found)
        paths.push_back(std::move(port.second));
    return paths;
}

std::vector<std::string> StablePortLinks(const std::string& devRoot) {
    std::vector<std::string> links;
    std::error_code error;
    for (const fs::directory_entry& entry :
         fs::directory_iterator(fs::path(devRoot) / "serial" / "by-id", error))
        links.push_back(entry.path().string());
    std::sort(links.begin(), links.end());
    return links;
}

} // namespace

std::vector<std::string> ListSerialPorts(const std::string& devRoot, const std::string& sysRoot) {
    std::vector<std::string> ports = NumberedPorts(devRoot, sysRoot);
    std::vector<std::string> links = StablePortLinks(devRoot);
    ports.insert(ports.end(), links.begin(), links.end());
    return ports;
}

} // namespace kv
