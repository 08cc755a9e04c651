// SPDX-License-Identifier: GPL-3.0-or-later
#include "calibration/CalibrationReferences.h"

namespace kv {

SystemCalibrationReferences::SystemCalibrationReferences(ReferenceRegistry registry,
                                                         TimestampClock& clock,
                                                         UdpSocketFactory& sockets,
                                                         SerialPortOpener& ports)
    : Kinds(std::move(registry)), Environment{clock, sockets, ports},
      Slots(static_cast<size_t>(Kinds.Count())) {}

// The identity is looked at afresh for every reading, so a changed setting (the SNTP server)
// takes effect at once; the same identity keeps its driver and with it the pace of its queries.
std::shared_ptr<TimeReference>
SystemCalibrationReferences::Driver(ReferenceId id, const ReferenceSettings& settings) {
    const ReferenceKind& kind = Kinds.Kind(id);
    std::lock_guard lock(Mutex);
    Slot& slot = Slots.at(static_cast<size_t>(id));
    const std::string identity = kind.Identity ? kind.Identity(settings) : std::string();
    if (!slot.Driver || slot.Identity != identity) {
        slot.Identity = identity;
        slot.Driver = kind.Make(settings, Environment);
    }
    return slot.Driver;
}

bool SystemCalibrationReferences::Read(ReferenceId id, ReadingPhase phase,
                                       const ReferenceSettings& settings,
                                       const StillWanted& stillWanted, double& offsetSeconds,
                                       std::string& status) {
    return Driver(id, settings)->ReadOffset(phase, stillWanted, offsetSeconds, status);
}

bool SystemCalibrationReferences::Open(ReferenceId id, const ReferenceSettings& settings,
                                       std::string& error) {
    return Driver(id, settings)->Open(settings, error);
}

std::vector<std::shared_ptr<TimeReference>> SystemCalibrationReferences::Drivers() const {
    std::lock_guard lock(Mutex);
    std::vector<std::shared_ptr<TimeReference>> drivers;
    for (const Slot& slot : Slots)
        if (slot.Driver) drivers.push_back(slot.Driver);
    return drivers;
}

void SystemCalibrationReferences::Close() {
    for (const auto& driver : Drivers())
        if (driver->IsOpen()) driver->Close();
}

bool SystemCalibrationReferences::AnyOpen() const {
    for (const auto& driver : Drivers())
        if (driver->IsOpen()) return true;
    return false;
}

} // namespace kv
