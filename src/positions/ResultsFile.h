// SPDX-License-Identifier: GPL-3.0-or-later
// The results text file of positional runs: plain text appended as UTF-16 little-endian code
// units, without a byte-order mark or terminating zero.
#pragma once

#include <string>

namespace kv {

// Opens `path` for reading and writing (created when missing, never truncated), writes the UTF-8
// `text` at its end as UTF-16LE and closes it. False, with nothing written, when the file cannot
// be opened or does not take the whole text (a full disk); the caller skips that append silently.
bool AppendResultsText(const std::string& path, const std::string& text);

} // namespace kv
