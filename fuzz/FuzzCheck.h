// SPDX-License-Identifier: GPL-3.0-or-later
// A broken property found by a fuzz target: named on standard error, then abort() so libFuzzer
// keeps the input as a crash.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

namespace kv::fuzz {

inline void Require(bool holds, const char* property) {
    if (holds) return;
    std::fprintf(stderr, "fuzz property broken: %s\n", property);
    std::abort();
}

// The sample counts the detector works with: none negative, none beyond a beat.
template <class Derived> void RequireSaneSampleConstants(const Derived& d) {
    for (const int samples :
         {d.MuteSamples, d.PreSilenceSamples, d.LiftSamplesMin, d.LiftSamplesMax})
        Require(samples >= 0 && samples <= d.SamplesPerBeat, "sample constants within a beat");
}

} // namespace kv::fuzz
