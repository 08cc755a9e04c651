// SPDX-License-Identifier: GPL-3.0-or-later
// The time references a network or GPS calibration reads, behind one seam so that tests can
// script the offsets: the kinds of the registry, each made by its factory when first used.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/SerialPort.h"
#include "platform/UdpSocket.h"
#include "references/ReferenceRegistry.h"
#include "references/TimeReference.h"
#include "timebase/SampleClock.h"

namespace kv {

// Threads: Read on the calibration worker; Open and Close on the user-interface thread while it
// holds the calibration lock. Implementations keep their own locks as leaves (never held while
// stillWanted is asked).
class CalibrationReferences {
public:
    virtual ~CalibrationReferences() = default;
    // The kinds the commands may start.
    virtual const ReferenceRegistry& Registry() const = 0;
    // One reading of the reference of kind `id`.
    virtual bool Read(ReferenceId id, ReadingPhase phase, const ReferenceSettings& settings,
                      const StillWanted& stillWanted, double& offsetSeconds,
                      std::string& status) = 0;
    // Gets the reference of kind `id` ready for a run; false with the reason in error.
    virtual bool Open(ReferenceId id, const ReferenceSettings& settings, std::string& error) = 0;
    // Ends whatever reference is open.
    virtual void Close() = 0;
    virtual bool AnyOpen() const = 0;
};

// The drivers the registry's factories make, on the given sockets, serial ports and clock.
class SystemCalibrationReferences final : public CalibrationReferences {
public:
    explicit SystemCalibrationReferences(ReferenceRegistry registry = BuiltInReferences(),
                                         TimestampClock& clock = ProcessTimestampClock(),
                                         UdpSocketFactory& sockets = PosixUdpSockets(),
                                         SerialPortOpener& ports = PosixSerialPorts());
    const ReferenceRegistry& Registry() const override { return Kinds; }
    bool Read(ReferenceId id, ReadingPhase phase, const ReferenceSettings& settings,
              const StillWanted& stillWanted, double& offsetSeconds, std::string& status) override;
    bool Open(ReferenceId id, const ReferenceSettings& settings, std::string& error) override;
    void Close() override;
    bool AnyOpen() const override;

private:
    // The driver of kind `id` for these settings, made afresh when its identity changed.
    std::shared_ptr<TimeReference> Driver(ReferenceId id, const ReferenceSettings& settings);
    std::vector<std::shared_ptr<TimeReference>> Drivers() const; // those made so far

    struct Slot {
        std::string Identity;
        std::shared_ptr<TimeReference> Driver;
    };
    // Leaf lock over Slots, never held while a driver works: a reading keeps its own share of
    // its driver, so a driver replaced meanwhile lives until the reading ends.
    mutable std::mutex Mutex;
    ReferenceRegistry Kinds;
    ReferenceEnvironment Environment;
    // One per kind. A driver outlives its readings, so that an SNTP server's query budget,
    // remembered replies and any Kiss-o'-Death carry over.
    std::vector<Slot> Slots;
};

} // namespace kv
