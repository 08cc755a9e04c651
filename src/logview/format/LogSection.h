// SPDX-License-Identifier: GPL-3.0-or-later
// Cutting a section out of the log file, as the viewer's "Delete section of graph" does. The
// file's own bytes are edited, so whatever is kept stays byte for byte in its encoding:
// - every record whose time (whole seconds) lies in [start, end] goes, so all records of the
//   last shown second go too, and with them the lines with an empty time field (comments,
//   annotations) that lie between the section's records; a line goes with its CR and the line
//   feeds after it;
// - in the first such record's place come two time-only records, "<its time + length>" and
//   "<end>", each ended by CR LF, so the traces break at the joint;
// - a line older than the section moves forward by its length (end - start): its time field
//   becomes the decimal of its whole seconds plus the length, the rest of the line stays;
// - every other line, a newer record, a line with an empty time field outside the section, a
//   line whose time is 0 or not a number, and an unfinished last line, stays as it was.
#pragma once

#include <cstdint>
#include <string>

namespace kv {

enum class SectionDeletion {
    Deleted,
    NothingShown, // start after end: no record was shown
    CannotRead,   // missing, unreadable or too large
    EmptyFile,
    WriteFailed, // the old file is intact
};

// Rewrites the file at `path` without the section [start, end] (whole seconds since 1970, the
// first and last shown record times). Lines are those of the log viewer's reader, the encoding
// that of the file's first bytes. The new bytes go to a temporary file that is flushed and
// renamed over the log, so a crash leaves the old or the new file, never a part. The caller holds
// off the writer (LogWriter::DeleteSection does). `error` says why on WriteFailed (also when
// memory runs out) and CannotRead. Called on any one thread at a time per file.
SectionDeletion DeleteLogSection(const std::string& path, int64_t start, int64_t end,
                                 std::string& error);

} // namespace kv
