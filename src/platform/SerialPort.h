// SPDX-License-Identifier: GPL-3.0-or-later
// A serial port as a GPS receiver needs it: raw 8N1 lines without flow control, reads and writes
// bounded by time-outs, and a close that ends a pending read at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace kv {

// Bounds of one Read or Write call, in milliseconds. A read ends when its buffer is full, when
// ReadIntervalMs passes between two bytes once the first has come (0: no such limit), or when
// ReadTotalMultiplierMs per byte asked for plus ReadTotalConstantMs have passed since it began.
// A write gives up after WriteTotalMultiplierMs per byte plus WriteTotalConstantMs. With every
// read figure 0 a read waits until its buffer is full.
struct SerialTimeouts {
    uint32_t ReadIntervalMs = 0;
    uint32_t ReadTotalMultiplierMs = 0;
    uint32_t ReadTotalConstantMs = 0;
    uint32_t WriteTotalMultiplierMs = 0;
    uint32_t WriteTotalConstantMs = 0;

    bool operator==(const SerialTimeouts&) const = default;
};

// Threads: the opening thread configures the port (ReadLineSettings to ApplyTimeouts) before
// sharing it. Afterwards one thread reads (Read, DiscardInput) while another may write and Close;
// the implementation keeps these apart with its own locks.
class SerialPort {
public:
    virtual ~SerialPort() = default;
    // Fetches the port's current line settings, which ApplyLineSettings starts from.
    virtual bool ReadLineSettings() = 0;
    // baud bits per second, 8 data bits, no parity, 1 stop bit, binary (no character
    // translation), no hardware or XON/XOFF flow control, DTR and RTS held on. Any positive rate
    // is asked for, standard or not; false when the port refuses the settings or its driver keeps
    // a speed more than 2% away from baud (too far for characters to arrive whole).
    virtual bool ApplyLineSettings(int baud) = 0;
    virtual bool ReadTimeouts(SerialTimeouts& current) = 0;
    virtual bool ApplyTimeouts(const SerialTimeouts& timeouts) = 0;
    // Bytes read into buffer, bounded by the time-outs; fewer (0 included) on a time-out, an
    // error or a Close.
    virtual size_t Read(std::span<uint8_t> buffer) = 0;
    // Bytes written, bounded by the write time-out.
    virtual size_t Write(std::span<const uint8_t> bytes) = 0;
    // Drops whatever has arrived and not been read yet.
    virtual void DiscardInput() = 0;
    // Ends a pending Read at once, waits for it to return, and releases the device; afterwards
    // Read and Write return 0 without touching it. Safe to call more than once.
    virtual void Close() = 0;
    virtual bool IsClosed() const = 0;
};

// Opens ports by name; shared by every thread (no state between calls).
class SerialPortOpener {
public:
    virtual ~SerialPortOpener() = default;
    // Opens the named device for reading and writing, exclusively where the system allows;
    // nullptr when it does not exist, cannot be opened or is not a character device.
    virtual std::unique_ptr<SerialPort> Open(const std::string& name) = 0;
};

// "/dev/<name>" for a plain name such as ttyUSB0; an absolute path is used as given.
std::string SerialDevicePath(const std::string& name);

// termios ports; time-outs are kept by the implementation with poll.
SerialPortOpener& PosixSerialPorts();

} // namespace kv
