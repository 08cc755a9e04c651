// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer target of the log viewer's load: any bytes, read with trace settings taken from the
// input's first bytes, load twice (the second from the first load's filter seeds) without a crash,
// and every shown value is a number or no value, the spectrum a power of two in size, every tag
// on a trace 0 … 7; a load that is refused leaves the records as they were; and the chunked line
// reader, at a chunk size taken from the input, gives the lines of the whole-text reader.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzCheck.h"
#include "logview/format/LogEncoding.h"
#include "logview/format/LogLineReader.h"
#include "logview/format/LogLineStream.h"
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

// The lines of the whole decoded text against those read a few bytes at a time.
void RequireSameLines(std::string_view bytes, size_t chunkBytes) {
    const std::string text = kv::DecodeLogText(bytes, kv::DetectLogEncoding(bytes));
    std::vector<std::string_view> whole;
    kv::LogLines lines(text);
    for (std::string_view line; lines.Next(line);)
        whole.push_back(line);
    size_t at = 0;
    kv::ReadLogLines(bytes,
                     [&](const kv::LogLine& line) {
                         Require(at < whole.size() && line.Text == whole[at++],
                                 "chunks give the same lines");
                         return true;
                     },
                     {SIZE_MAX, chunkBytes});
    Require(at == whole.size(), "chunks give every line");
}

void Load(kv::GraphModel& model, std::string_view bytes, const kv::GraphSettings& settings) {
    const size_t before = model.Records.size();
    const kv::GraphLoadStatus status = model.LoadGraphText(bytes, settings);
    Require(status == kv::GraphLoadStatus::Loaded || status == kv::GraphLoadStatus::NotALog,
            "bytes load or are not a log");
    Require(status == kv::GraphLoadStatus::Loaded || model.Records.size() == before,
            "a refused load keeps the records");
    RequireSane(model);
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
    Load(model, bytes, settings);
    model.ApplySpan(1);
    Load(model, bytes, settings);
    RequireSameLines(bytes, data[0]);
    return 0;
}
