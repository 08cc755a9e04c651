// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/LineSpeed.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace kv {
namespace {

struct SpeedCode {
    uint32_t BitsPerSecond;
    tcflag_t Code;
};

// The rates with a constant of their own.
constexpr SpeedCode kSpeedCodes[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

tcflag_t CodeFor(uint32_t bitsPerSecond) {
    for (const SpeedCode& speed : kSpeedCodes)
        if (speed.BitsPerSecond == bitsPerSecond) return speed.Code;
    return BOTHER; // the rate is taken from c_ospeed
}

} // namespace

uint32_t SetLineSpeed(int fd, uint32_t bitsPerSecond) {
    termios2 line{};
    if (bitsPerSecond == 0 || ::ioctl(fd, TCGETS2, &line) != 0) return 0;
    // An input speed field of B0 makes the input speed that of the output.
    line.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
    line.c_cflag |= CodeFor(bitsPerSecond);
    line.c_ospeed = bitsPerSecond;
    line.c_ispeed = bitsPerSecond;
    if (::ioctl(fd, TCSETS2, &line) != 0 || ::ioctl(fd, TCGETS2, &line) != 0) return 0;
    return line.c_ospeed;
}

} // namespace kv
