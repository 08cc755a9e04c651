// SPDX-License-Identifier: GPL-3.0-or-later
// A GPS receiver on a serial port as the calibration's reference: told to send one ZDA sentence a
// second while open, read by the calibration worker, set back to its standard output at close.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/SerialPort.h"
#include "platform/SerialPortScan.h"
#include "references/TimeReference.h"
#include "timebase/SampleClock.h"

namespace kv {

// The speeds the settings dialog offers, in bits per second.
inline constexpr int GpsBaudRates[] = {300,   600,   1200,  2400,  4800,  9600,  14400,
                                       19200, 28800, 38400, 56000, 57600, 155200};

// The serial ports present, first choice first; asked on the thread that opens the port.
using SerialPortList = std::function<std::vector<std::string>()>;

// The port to use for a stored GPSPort: the stored name, unless nothing was chosen (empty) or the
// name is a Windows one such as COM5 (older settings files hold it as the default), which names
// no port here; then the first of found, or empty when found is.
std::string GpsPortToUse(const std::string& stored, const std::vector<std::string>& found);

// Read and write time-outs for a line at baud: t = 10000 / baud ms per 10-bit character (rounded
// half away from zero), t + 20 ms between bytes and per byte, plus 1100 ms per call.
SerialTimeouts GpsTimeouts(int baud);
// Bytes one attempt may hunt through for a ZDA sentence: two seconds of characters.
int GpsHuntBudget(int baud);

// Writes the nine PSRF103 commands (Nmea.h) for calibration or, with restore, for the standard
// output. Write failures are not looked at: the receiver may be gone.
void ConfigureGpsMessages(SerialPort& port, bool restore);

// Threads: OpenGpsPort and CloseGpsPort on the user-interface thread, ReadGpsOffset and
// ReadOffset on the calibration worker. The port handle sits behind this object's lock; a
// reading works on its own reference to the port, and a close ends that reading's pending read
// at once, so a closed port is never read again. This object's lock is never held while the
// port is used or stillWanted is asked, so the caller may hold the lock stillWanted takes while it
// opens or closes the port.
class GpsReceiver final : public TimeReference {
public:
    static constexpr int kStartSentences = 100;
    static constexpr int kRunningSentences = 5;

    explicit GpsReceiver(
        SerialPortOpener& ports = PosixSerialPorts(),
        const TimestampClock& clock = ProcessTimestampClock(),
        SerialPortList listPorts = [] { return ListSerialPorts(); });
    ~GpsReceiver() override; // closes an open port as CloseGpsPort does
    GpsReceiver(const GpsReceiver&) = delete;
    GpsReceiver& operator=(const GpsReceiver&) = delete;

    // Opens portName (a device name under /dev or an absolute path; GpsPortToUse picks one when
    // it names none) at baud and tells the receiver to send ZDA only. False with the reason in
    // error; a port opened part-way is closed again. A port already open is closed first.
    bool OpenGpsPort(const std::string& portName, int baud, std::string& error);
    // Restores the receiver's standard output, ends a pending reading and closes the port.
    void CloseGpsPort();
    bool IsOpen() const override;
    // The port and baud rate of the settings.
    bool Open(const ReferenceSettings& settings, std::string& error) override {
        return OpenGpsPort(settings.GpsPort, settings.GpsBaud, error);
    }
    void Close() override { CloseGpsPort(); }

    // One reading of `sentences` ZDA sentences, each from its own attempt: true with the mean
    // offset and "GPS Ok" only when every attempt gave a sentence, otherwise false with
    // "Bad data from GPS:<good> of <sentences>"; "No RS232 port open" without a port; false with
    // status untouched when stillWanted() says stop or the port was closed meanwhile.
    bool ReadGpsOffset(int sentences, const StillWanted& stillWanted, double& offsetSeconds,
                       std::string& status);
    // kStartSentences or kRunningSentences.
    bool ReadOffset(ReadingPhase phase, const StillWanted& stillWanted, double& offsetSeconds,
                    std::string& status) override;

private:
    // Opening steps after the device is open; the error text of the first that fails.
    static const char* ConfigurePort(SerialPort& port, int baud);
    // One attempt: the offset of the next ZDA sentence, or nothing.
    std::optional<double> ReadOneSentence(SerialPort& port, int budget) const;

    SerialPortOpener& ports_;
    const TimestampClock& clock_;
    const SerialPortList listPorts_;
    mutable std::mutex mutex_;         // guards port_ and baud_
    std::shared_ptr<SerialPort> port_; // empty while closed
    int baud_ = 0;
};

} // namespace kv
