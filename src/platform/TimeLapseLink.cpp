// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/TimeLapseLink.h"

#include <array>

namespace kv {

namespace {

constexpr size_t TimeLapseFieldBytes = 4; // each field is a 32-bit integer
constexpr size_t TimeLapseDatagramBytes = 3 * TimeLapseFieldBytes;
constexpr unsigned BitsPerByte = 8;

void PutLittleEndian(unsigned char* out, uint32_t value) {
    for (size_t i = 0; i < TimeLapseFieldBytes; ++i)
        out[i] = static_cast<unsigned char>(value >> (BitsPerByte * i));
}

} // namespace

std::string TimeLapseSocketPath() {
    return RuntimeSocketPath("TimeLapse");
}

TimeLapseLink::TimeLapseLink() : TimeLapseLink(MakeUnixDatagramSender()) {}

TimeLapseLink::TimeLapseLink(std::unique_ptr<LocalDatagramSender> sender)
    : Sender(std::move(sender)) {}

TimeLapseLink::~TimeLapseLink() {
    Forget();
}

bool TimeLapseLink::Find(const std::string& path) {
    const std::lock_guard<std::mutex> hold(Lock);
    return Sender->Connect(path);
}

bool TimeLapseLink::Found() const {
    const std::lock_guard<std::mutex> hold(Lock);
    return Sender->Connected();
}

void TimeLapseLink::Forget() {
    const std::lock_guard<std::mutex> hold(Lock);
    Sender->Disconnect();
}

void TimeLapseLink::Notify(uint32_t milliseconds, uint32_t beatCountLow) {
    std::array<unsigned char, TimeLapseDatagramBytes> message{};
    PutLittleEndian(&message[0], TimeLapseMessage);
    PutLittleEndian(&message[TimeLapseFieldBytes], milliseconds);
    PutLittleEndian(&message[2 * TimeLapseFieldBytes], beatCountLow);
    const std::lock_guard<std::mutex> hold(Lock);
    if (!Sender->Connected()) return;
    if (Sender->Send(message.data(), message.size()) == DatagramResult::PeerGone)
        Sender->Disconnect(); // the listener went away
}

} // namespace kv
