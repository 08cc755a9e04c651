// SPDX-License-Identifier: GPL-3.0-or-later
// The kinds of time reference a calibration can run against: each kind's settings key, the name
// its status texts show and the factory that makes its driver. The calibration, the session and
// the commands go through the kinds instead of naming each reference, so adding one is its
// driver, one line in BuiltInReferences, its menu entry and its settings page.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/SerialPort.h"
#include "platform/UdpSocket.h"
#include "references/TimeReference.h"
#include "settings/AppSettings.h"
#include "timebase/SampleClock.h"

namespace kv {

// What the drivers are built on; tests hand in fakes.
struct ReferenceEnvironment {
    TimestampClock& Clock;
    UdpSocketFactory& Sockets;
    SerialPortOpener& Ports;
};

struct ReferenceKind {
    using Factory = std::function<std::unique_ptr<TimeReference>(const ReferenceSettings&,
                                                                 const ReferenceEnvironment&)>;
    std::string Key;  // names the kind in commands and tests: "Sntp", "Gps"
    std::string Name; // in the status texts: "Starting SNTP cal"
    Factory Make;
    // The settings that make a driver what it is: when they change between readings a new one is
    // made (a new server gets a fresh query budget). Empty: one driver for the whole program.
    std::function<std::string(const ReferenceSettings&)> Identity;
};

// A kind's place in the registry. The calibration mode word holds it as bit 1 << id, and the
// settings file stores that word, so the built-in kinds keep their order.
using ReferenceId = int;

class ReferenceRegistry {
public:
    // The mode word has four bits for the kinds, below the local standard's value 16.
    static constexpr int MaxKinds = 4;

    // Adds a kind; its id, or nothing when the registry is full or the key is taken.
    std::optional<ReferenceId> Add(ReferenceKind kind);
    int Count() const { return static_cast<int>(Kinds.size()); }
    const ReferenceKind& Kind(ReferenceId id) const { return Kinds.at(static_cast<size_t>(id)); }
    std::optional<ReferenceId> Find(std::string_view key) const;

private:
    std::vector<ReferenceKind> Kinds;
};

// The SNTP server (id 0) and the GPS receiver (id 1), in the order the settings file knows them.
ReferenceRegistry BuiltInReferences();

// The fields of the settings the references read.
ReferenceSettings ReferenceSettingsFrom(const AppSettings& app);

} // namespace kv
