// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer target of train texts: a text that names a train is written back as a text that
// names the same train, and that text is written back unchanged.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzCheck.h"
#include "analysis/AnalysisParameters.h"

namespace {

using namespace kv;
using kv::fuzz::Require;

// "%g" keeps six significant digits.
constexpr double SixDigits = 1e-5;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const TrainText parsed = ParseTrainText(std::string(reinterpret_cast<const char*>(data), size));
    if (parsed.Kind != TrainTextKind::Period) return 0;
    Require(parsed.Period >= 0.001 && parsed.Period <= 60.0, "a train lies in the accepted range");
    const std::string text = FormatTrain(parsed.Period);
    const TrainText back = ParseTrainText(text);
    Require(back.Kind == TrainTextKind::Period, "a formatted train parses");
    Require(std::fabs(back.Period - parsed.Period) <= SixDigits * parsed.Period,
            "a formatted train parses to the same period");
    Require(FormatTrain(back.Period) == text, "a formatted train formats back to the same text");
    return 0;
}
