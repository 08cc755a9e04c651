// SPDX-License-Identifier: GPL-3.0-or-later
#include "references/GpsReceiver.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <string_view>

#include "references/Nmea.h"

namespace kv {
namespace {

constexpr double kBitsPerCharacter = 10; // start bit, 8 data bits, stop bit
constexpr double kMillisecondsPerSecond = 1000;
constexpr uint32_t kCharacterMarginMs = 20; // slack per character on top of its line time
constexpr uint32_t kCallConstantMs = 1100;  // a sentence a second and a little more
constexpr int kBudgetSeconds = 2;           // hunting budget: two seconds of characters
// A framed command at or beyond this length is not sent.
constexpr size_t kLongestCommand = 49;
// After "$GPZDA,": at most this much is read, and less than the minimum is no sentence.
constexpr size_t kZdaBodyBytes = 40;
constexpr size_t kZdaShortestBody = 12;
constexpr double kSecondsPer100ns = 1e-7;

std::span<const uint8_t> Bytes(std::string_view text) {
    return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

// COM<n> in any case, as Windows names its serial ports.
bool IsWindowsPortName(std::string_view name) {
    constexpr std::string_view kPrefix = "COM";
    if (name.size() <= kPrefix.size()) return false;
    const auto upper = [](unsigned char c) { return static_cast<char>(std::toupper(c)); };
    return std::equal(kPrefix.begin(), kPrefix.end(), name.begin(),
                      [&](char a, char b) { return a == upper(b); }) &&
           std::all_of(name.begin() + kPrefix.size(), name.end(),
                       [](unsigned char c) { return std::isdigit(c); });
}

} // namespace

std::string GpsPortToUse(const std::string& stored, const std::vector<std::string>& found) {
    if (!stored.empty() && !IsWindowsPortName(stored)) return stored;
    return found.empty() ? std::string() : found.front();
}

SerialTimeouts GpsTimeouts(int baud) {
    const auto perCharacter = static_cast<uint32_t>(
        std::lround(kBitsPerCharacter * kMillisecondsPerSecond / std::max(baud, 1)));
    SerialTimeouts t;
    t.ReadIntervalMs = perCharacter + kCharacterMarginMs;
    t.ReadTotalMultiplierMs = perCharacter + kCharacterMarginMs;
    t.ReadTotalConstantMs = kCallConstantMs;
    t.WriteTotalMultiplierMs = perCharacter + kCharacterMarginMs;
    t.WriteTotalConstantMs = kCallConstantMs;
    return t;
}

int GpsHuntBudget(int baud) {
    return kBudgetSeconds * baud / static_cast<int>(kBitsPerCharacter);
}

void ConfigureGpsMessages(SerialPort& port, bool restore) {
    for (const std::string& sentence : GpsMessageConfiguration(restore))
        if (sentence.size() <= kLongestCommand) port.Write(Bytes(sentence));
}

GpsReceiver::GpsReceiver(SerialPortOpener& ports, const TimestampClock& clock,
                         SerialPortList listPorts)
    : ports_(ports), clock_(clock), listPorts_(std::move(listPorts)) {}

GpsReceiver::~GpsReceiver() {
    CloseGpsPort();
}

const char* GpsReceiver::ConfigurePort(SerialPort& port, int baud) {
    if (!port.ReadLineSettings()) return "Get com state failed.";
    if (baud < 1 || !port.ApplyLineSettings(baud)) return "Set com state failed.";
    SerialTimeouts current;
    if (!port.ReadTimeouts(current)) return "Get com timeouts failed";
    if (!port.ApplyTimeouts(GpsTimeouts(baud))) return "Set com timeouts failed";
    return nullptr;
}

bool GpsReceiver::OpenGpsPort(const std::string& portName, int baud, std::string& error) {
    CloseGpsPort();
    const std::string name = GpsPortToUse(portName, listPorts_());
    if (name.empty()) {
        error = "No GPS port configured";
        return false;
    }
    std::shared_ptr<SerialPort> port = ports_.Open(name);
    if (!port) {
        error = "GPS com port unavailable";
        return false;
    }
    if (const char* failure = ConfigurePort(*port, baud)) {
        error = failure;
        port->Close();
        return false;
    }
    ConfigureGpsMessages(*port, false);
    std::lock_guard lock(mutex_);
    port_ = std::move(port);
    baud_ = baud;
    return true;
}

void GpsReceiver::CloseGpsPort() {
    std::shared_ptr<SerialPort> port;
    {
        std::lock_guard lock(mutex_);
        port = std::move(port_);
        port_.reset();
    }
    if (!port) return;
    ConfigureGpsMessages(*port, true);
    port->Close();
}

bool GpsReceiver::IsOpen() const {
    std::lock_guard lock(mutex_);
    return port_ != nullptr;
}

bool GpsReceiver::ReadOffset(ReadingPhase phase, const StillWanted& stillWanted,
                             double& offsetSeconds, std::string& status) {
    const int sentences = phase == ReadingPhase::Start ? kStartSentences : kRunningSentences;
    return ReadGpsOffset(sentences, stillWanted, offsetSeconds, status);
}

bool GpsReceiver::ReadGpsOffset(int sentences, const StillWanted& stillWanted,
                                double& offsetSeconds, std::string& status) {
    std::shared_ptr<SerialPort> port;
    int baud;
    {
        std::lock_guard lock(mutex_);
        port = port_;
        baud = baud_;
    }
    if (!port) {
        status = "No RS232 port open";
        return false;
    }
    port->DiscardInput();
    const int budget = GpsHuntBudget(baud);
    int good = 0;
    double sum = 0;
    for (int attempt = 0; attempt < sentences && good < sentences; ++attempt) {
        if (!stillWanted()) return false;
        const std::optional<double> offset = ReadOneSentence(*port, budget);
        if (offset) {
            ++good;
            sum += *offset;
        } else if (port->IsClosed()) {
            return false; // closed by a stop or pause: no reading, and nothing to report
        }
    }
    if (good != sentences || good == 0) {
        status = "Bad data from GPS:" + std::to_string(good) + " of " + std::to_string(sentences);
        return false;
    }
    status = "GPS Ok";
    offsetSeconds = good > 1 ? sum / good : sum;
    return true;
}

std::optional<double> GpsReceiver::ReadOneSentence(SerialPort& port, int budget) const {
    int taken = 0;
    while (taken < budget) {
        uint8_t byte = 0;
        if (port.Read(std::span(&byte, 1)) != 1) return std::nullopt;
        ++taken;
        if (byte != '$') continue;
        // The sentence's time belongs to the arrival of its "$": note the counter first.
        const int64_t arrival = clock_.ReadCounter();
        std::array<uint8_t, kZdaPrefix.size()> kind{};
        const size_t kindBytes = port.Read(kind);
        taken += static_cast<int>(kindBytes);
        if (kindBytes < kind.size()) return std::nullopt;
        if (std::string_view(reinterpret_cast<const char*>(kind.data()), kind.size()) != kZdaPrefix)
            continue; // another sentence: hunt on
        std::array<uint8_t, kZdaBodyBytes> body{};
        const size_t bodyBytes = port.Read(body);
        if (bodyBytes < kZdaShortestBody) return std::nullopt;
        const std::optional<uint64_t> utc =
            ParseZdaTime(std::string_view(reinterpret_cast<const char*>(body.data()), bodyBytes));
        if (!utc) return std::nullopt;
        const auto difference = static_cast<int64_t>(*utc - clock_.CounterToUtc(arrival));
        return static_cast<double>(difference) * kSecondsPer100ns;
    }
    return std::nullopt;
}

} // namespace kv
