// SPDX-License-Identifier: GPL-3.0-or-later
// The amplitude spectrum of one trace: its raw values resampled at N equal steps over the shown
// time span and transformed with a radix-2 FFT (KissFFT).
#pragma once

#include <complex>
#include <cstdint>
#include <vector>

#include "logview/model/GraphTypes.h"

namespace kv {

inline constexpr unsigned MaxSpectrumSize = 16384; // resampled points at most
inline constexpr size_t MinSpectrumRecords = 16;   // fewer records give no spectrum

// N complex lines (N the smallest power of two ≥ the record count, at most MaxSpectrumSize), or
// none when the span is empty or there are fewer than MinSpectrumRecords records. Line k holds
// the frequency k / (end − start) Hz; lines 0 … N/2 are the meaningful ones.
std::vector<std::complex<double>> ComputeSpectrum(const std::vector<GraphRecord>& records,
                                                  int trace, int64_t displayStart,
                                                  int64_t displayEnd);

// The level of a line in dB relative to a unit amplitude: 20 · log10(|X| / N); -infinity for a
// line of zero magnitude.
double SpectrumLevelDb(std::complex<double> line, size_t size);

} // namespace kv
