// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer target of the measuring-time and lift-angle texts of the settings bar: any text gives
// a measuring time within its limits, and a lift angle the sample constants can be computed with.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzCheck.h"
#include "analysis/AnalysisCore.h"

namespace {

using namespace kv;
using kv::fuzz::Require;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    constexpr double BeatPeriod = 0.2, MinInterval = 0.3, Least = BeatPeriod / 2 + MinInterval;
    if (const auto seconds = ParseMeasuringTime(text, BeatPeriod, MinInterval))
        Require(std::isfinite(*seconds) && *seconds >= Least && *seconds <= MaxMeasuringTime,
                "a measuring time lies within its limits");
    else
        Require(text.empty(), "only an empty measuring-time text is ignored");

    IdleAnalysisHost host;
    TimestampClock clock;
    AnalysisCore core(host, clock);
    core.Params.LiftAngle = 52.0;
    const bool taken = core.SetLiftAngle(text);
    const double lift = core.Params.LiftAngle;
    Require(taken ? lift >= MinLiftAngle && lift <= MaxLiftAngle : lift == 52.0,
            "a lift angle lies within its limits, a blank text changes nothing");
    fuzz::RequireSaneSampleConstants(core.Derived);
    return 0;
}
