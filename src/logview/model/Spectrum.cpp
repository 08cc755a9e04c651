// SPDX-License-Identifier: GPL-3.0-or-later
#include "logview/model/Spectrum.h"

#include <cmath>
#include <kissfft.hh>

namespace kv {

namespace {

size_t SpectrumSizeFor(size_t records) {
    size_t n = 1;
    while (n < records && n < MaxSpectrumSize)
        n *= 2;
    return n;
}

double RawOrZero(const GraphRecord& r, int trace) {
    return HasValue(r.Raw[trace]) ? r.Raw[trace] : 0.0;
}

// The transform's input: the first record's value, then the trace sampled at k · step after the
// start for k = 0 … n − 2, each by linear interpolation between the records whose times enclose
// it, the last two records extended beyond the end.
std::vector<std::complex<double>> Resample(const std::vector<GraphRecord>& records, int trace,
                                           double start, double step, size_t n) {
    std::vector<std::complex<double>> samples(n);
    samples[0] = RawOrZero(records.front(), trace);
    size_t j = 0;
    for (size_t k = 0; k + 1 < n; ++k) {
        const double tau = static_cast<double>(k) * step;
        while (j + 2 < records.size() && records[j + 1].Time - start <= tau)
            ++j;
        const double t0 = records[j].Time - start, t1 = records[j + 1].Time - start;
        const double v0 = RawOrZero(records[j], trace), v1 = RawOrZero(records[j + 1], trace);
        samples[k + 1] = t1 != t0 ? v0 + (v1 - v0) * (tau - t0) / (t1 - t0) : v0;
    }
    return samples;
}

} // namespace

std::vector<std::complex<double>> ComputeSpectrum(const std::vector<GraphRecord>& records,
                                                  int trace, int64_t displayStart,
                                                  int64_t displayEnd) {
    if (displayEnd <= displayStart || records.size() < MinSpectrumRecords || trace < 0 ||
        trace >= TraceCount)
        return {};
    const size_t n = SpectrumSizeFor(records.size());
    const double start = static_cast<double>(displayStart);
    const double step = (static_cast<double>(displayEnd) - start) / static_cast<double>(n);
    const std::vector<std::complex<double>> samples = Resample(records, trace, start, step, n);
    std::vector<std::complex<double>> lines(n);
    // Positive exponent: only magnitudes are shown, and this is the direction the viewer always
    // used.
    kissfft<double>(n, /*inverse=*/true).transform(samples.data(), lines.data());
    return lines;
}

double SpectrumLevelDb(std::complex<double> line, size_t size) {
    return 20.0 * std::log10(std::abs(line) / static_cast<double>(size));
}

} // namespace kv
