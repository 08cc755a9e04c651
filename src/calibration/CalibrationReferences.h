// SPDX-License-Identifier: GPL-3.0-or-later
// The time references a network or GPS calibration reads, behind one seam so that tests can
// script the offsets: the SNTP server named in the settings and the GPS receiver on its port.
#pragma once

#include <memory>
#include <string>

#include "platform/ClockSetter.h"
#include "platform/SerialPort.h"
#include "platform/UdpSocket.h"
#include "references/GpsReceiver.h"
#include "references/SntpClient.h"
#include "references/TimeReference.h"
#include "timebase/SampleClock.h"

namespace kv {

// Where the references are found, copied from the settings under the calibration lock.
struct ReferenceSettings {
    std::string SntpServer;
    int SntpPort = 0;
};

// Threads: Read on the calibration worker; the GPS port is opened and closed on the
// user-interface thread while it holds the calibration lock. Implementations keep their own
// locks as leaves (never held while stillWanted is asked).
class CalibrationReferences {
public:
    virtual ~CalibrationReferences() = default;
    // One reading of the SNTP server (gps false) or the GPS receiver (gps true).
    virtual bool Read(bool gps, ReadingPhase phase, const ReferenceSettings& settings,
                      const StillWanted& stillWanted, double& offsetSeconds,
                      std::string& status) = 0;
    virtual bool OpenGpsPort(const std::string& port, int baud, std::string& error) = 0;
    virtual void CloseGpsPort() = 0;
    virtual bool GpsPortOpen() const = 0;
};

// The real SNTP client and GPS receiver on the given sockets, serial ports and timestamp clock.
class SystemCalibrationReferences final : public CalibrationReferences {
public:
    explicit SystemCalibrationReferences(TimestampClock& clock = ProcessTimestampClock(),
                                         UdpSocketFactory& sockets = PosixUdpSockets(),
                                         SerialPortOpener& ports = PosixSerialPorts());
    bool Read(bool gps, ReadingPhase phase, const ReferenceSettings& settings,
              const StillWanted& stillWanted, double& offsetSeconds, std::string& status) override;
    bool OpenGpsPort(const std::string& port, int baud, std::string& error) override;
    void CloseGpsPort() override;
    bool GpsPortOpen() const override;

private:
    TimestampClock& Clock;
    UdpSocketFactory& Sockets;
    GpsReceiver Receiver;
    // The server of the latest SNTP reading, kept so that its query budget, remembered replies
    // and any Kiss-o'-Death outlive the reading; only the worker thread touches it.
    ReferenceSettings SntpWhere;
    std::unique_ptr<SntpReference> Sntp;
};

} // namespace kv
