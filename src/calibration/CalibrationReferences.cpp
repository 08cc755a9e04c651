// SPDX-License-Identifier: GPL-3.0-or-later
#include "calibration/CalibrationReferences.h"

#include "references/SntpClient.h"

namespace kv {

SystemCalibrationReferences::SystemCalibrationReferences(TimestampClock& clock,
                                                         UdpSocketFactory& sockets,
                                                         SerialPortOpener& ports)
    : Clock(clock), Sockets(sockets), Receiver(ports, clock) {}

// The server is looked up afresh for every reading, so a changed setting takes effect at once;
// the same server keeps its reference and with it the pace of its queries.
bool SystemCalibrationReferences::Read(bool gps, ReadingPhase phase,
                                       const ReferenceSettings& settings,
                                       const StillWanted& stillWanted, double& offsetSeconds,
                                       std::string& status) {
    if (gps) return Receiver.ReadOffset(phase, stillWanted, offsetSeconds, status);
    if (!Sntp || settings.SntpServer != SntpWhere.SntpServer ||
        settings.SntpPort != SntpWhere.SntpPort) {
        SntpWhere = settings;
        Sntp =
            std::make_unique<SntpReference>(settings.SntpServer, settings.SntpPort, Sockets, Clock);
    }
    return Sntp->ReadOffset(phase, stillWanted, offsetSeconds, status);
}

bool SystemCalibrationReferences::OpenGpsPort(const std::string& port, int baud,
                                              std::string& error) {
    return Receiver.OpenGpsPort(port, baud, error);
}

void SystemCalibrationReferences::CloseGpsPort() {
    Receiver.CloseGpsPort();
}

bool SystemCalibrationReferences::GpsPortOpen() const {
    return Receiver.IsOpen();
}

} // namespace kv
