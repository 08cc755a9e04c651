// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/mixer/MixerControl.h"

#include <cctype>

namespace kv {

namespace {

// The card number after "hw:" in `name` at `at`, or empty.
std::string CardAfter(const std::string& name, size_t at) {
    size_t end = at;
    while (end < name.size() && std::isdigit(static_cast<unsigned char>(name[end])))
        ++end;
    return name.substr(at, end - at);
}

} // namespace

std::string MixerDeviceFor(const std::string& soundDevice) {
    if (soundDevice.empty()) return "default";
    static const std::string CardPrefix = "hw:";
    for (size_t at = soundDevice.find(CardPrefix); at != std::string::npos;
         at = soundDevice.find(CardPrefix, at + 1)) {
        const std::string card = CardAfter(soundDevice, at + CardPrefix.size());
        if (!card.empty()) return CardPrefix + card;
    }
    return soundDevice;
}

} // namespace kv
