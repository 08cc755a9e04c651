// SPDX-License-Identifier: GPL-3.0-or-later
#include "logview/model/GraphCsv.h"

#include <charconv>
#include <cmath>
#include <string>

#include "logview/model/Spectrum.h"

namespace kv {

namespace {

constexpr int kSignificantDigits = 10; // beyond what a log's "%g" values carry

// A label as one CSV field: blanks trimmed, quoted when it holds a comma, quote or line end.
std::string CsvField(std::string_view text) {
    const size_t first = text.find_first_not_of(' ');
    text = first == std::string_view::npos ? std::string_view() : text.substr(first);
    text = text.substr(0, text.find_last_not_of(' ') + 1);
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + '"';
}

std::string CsvNumber(double v) {
    if (!std::isfinite(v)) return {};
    char text[32];
    const auto result =
        std::to_chars(text, text + sizeof text, v, std::chars_format::general, kSignificantDigits);
    return std::string(text, result.ptr);
}

} // namespace

void WriteTraceCsv(std::ostream& out, const GraphModel& model, const GraphSettings& settings) {
    out << "time_s";
    for (const TraceSettings& trace : settings.Traces)
        out << ',' << CsvField(trace.Label);
    out << '\n';
    const auto first = static_cast<double>(model.Window.FirstRecordTime);
    for (const GraphRecord& record : model.Records) {
        out << CsvNumber(record.Time - first);
        for (int i = 0; i < TraceCount; ++i) {
            out << ',';
            const double v = record.Value[i];
            if (settings.Traces[i].Enabled && HasValue(v)) out << CsvNumber(v);
        }
        out << '\n';
    }
}

void WriteSpectrumCsv(std::ostream& out, const GraphModel& model) {
    out << "frequency_hz,level_db\n";
    if (!model.HasSpectrum()) return;
    const double span = static_cast<double>(model.Window.DisplayEnd - model.Window.DisplayStart);
    const size_t n = model.Spectrum.size();
    for (size_t k = 0; k <= n / 2; ++k)
        out << CsvNumber(static_cast<double>(k) / span) << ','
            << CsvNumber(SpectrumLevelDb(model.Spectrum[k], n)) << '\n';
}

} // namespace kv
