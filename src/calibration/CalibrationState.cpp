// SPDX-License-Identifier: GPL-3.0-or-later
#include "calibration/CalibrationState.h"

#include "calibration/CalibrationFlags.h"

namespace kv {

void CalibrationState::SetMode(int mode) {
    Word = mode;
    LocalStandardRun = mode == LocalCalibrationMode;
}

const std::string& CalibrationState::ShownText(const AnalysisCore& core) const {
    return Word == LocalCalibrationMode ? core.Measurement.LocalCalibrationText : StatusText;
}

} // namespace kv
