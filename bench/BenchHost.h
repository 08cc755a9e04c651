// A host for the analysis core in benchmarks: measuring-loop services that do nothing.
#pragma once

#include "analysis/AnalysisHost.h"

namespace kv::bench {

class BenchHost : public AnalysisHost {
public:
    void StopMeasurement() override {}
    void StartMeasurement() override {}
    void StartTimer(int, unsigned) override {}
    void KillTimer(int) override {}
};

} // namespace kv::bench
