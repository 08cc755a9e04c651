// libFuzzer target of the log viewer's load: any bytes, read with trace settings taken from the
// input's first bytes, load twice (the second from the first load's filter seeds) without a crash,
// and every shown value is a number or no value, the spectrum a power of two in size, every tag
// on a trace 0 … 7.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "FuzzCheck.h"
#include "logview/model/GraphModel.h"

namespace {

using kv::fuzz::Require;

constexpr size_t kSettingsBytes = kv::TraceCount + 1; // one per trace, one for the spectrum

// Derivative mode, filter, wrap and holds of a trace from one byte; the held range and the
// coefficient from the same byte, so small ranges and coefficients near the limits occur.
void Configure(kv::TraceSettings& t, uint8_t b) {
    t.Enabled = (b & 0x80) == 0;
    t.Derivative = b % 3;
    t.Filter = (b & 0x04) != 0;
    t.WrapSuppress = (b & 0x08) != 0;
    t.HoldMax = (b & 0x10) != 0;
    t.HoldMin = (b & 0x20) != 0;
    t.FiltCoeff = (b & 0x40) ? 0.99 : 0.5;
    t.MinHold = -(b % 7);
    t.MaxHold = b % 5;
    t.Mag = (b & 0x01) ? 1e300 : 1.0;
}

void RequireSane(const kv::GraphModel& model) {
    for (const kv::GraphRecord& r : model.Records)
        for (int i = 0; i < kv::TraceCount; ++i) {
            Require(!std::isnan(r.Value[i]) && !std::isnan(r.Raw[i]), "values are numbers");
            Require(std::isfinite(r.Raw[i]), "raw values are finite");
        }
    for (const kv::GraphTag& tag : model.Tags)
        Require(tag.Trace >= 0 && tag.Trace < kv::TraceCount, "tags name a trace");
    const unsigned n = model.SpectrumSize;
    Require(n >= 1 && n <= 16384 && (n & (n - 1)) == 0, "spectrum size a power of two");
    Require(model.Spectrum.empty() || model.Spectrum.size() == n, "spectrum holds N lines");
    for (const kv::TraceResult& r : model.Results)
        Require(!std::isnan(r.FilterSeedA) && !std::isnan(r.FilterSeedB), "seeds are numbers");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < kSettingsBytes) return 0;
    kv::GraphSettings settings = kv::GraphSettings::Defaults();
    for (int i = 0; i < kv::TraceCount; ++i)
        Configure(settings.Traces[i], data[i]);
    kv::GraphModel model;
    model.SpectrumTrace = static_cast<int>(data[kv::TraceCount] % 10) - 1;
    const std::string_view bytes(reinterpret_cast<const char*>(data) + kSettingsBytes,
                                 size - kSettingsBytes);
    model.LoadGraphText(bytes, settings);
    RequireSane(model);
    model.ApplySpan(1);
    model.LoadGraphText(bytes, settings);
    RequireSane(model);
    return 0;
}
