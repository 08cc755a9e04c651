// SPDX-License-Identifier: GPL-3.0-or-later
// The name filters of the file dialogs that open or save recordings.
#pragma once

#include <QString>
#include <string>
#include <vector>

namespace kv {

// "Sound files (*.aif *.aiff ... *.wav)" from the given extensions, then "Wave files (*.wav)" and
// "All files (*)", separated by ";;" as QFileDialog takes them.
QString SoundFileFilters(const std::vector<std::string>& extensions);
// The same for every format the sound-file library reads (asked at run time).
QString SoundFileFilters();

} // namespace kv
