// The measuring view as the analysis core sees it while a fuzz target loads settings: nothing
// runs, no timer fires.
#pragma once

#include "analysis/AnalysisHost.h"

namespace kv::fuzz {

class QuietHost : public AnalysisHost {
public:
    void StopMeasurement() override {}
    void StartMeasurement() override {}
    void StartTimer(int, unsigned) override {}
    void KillTimer(int) override {}
};

} // namespace kv::fuzz
