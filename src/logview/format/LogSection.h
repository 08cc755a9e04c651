// Cutting a section out of the log file, as the viewer's "Delete section of graph" does: the
// records shown between start and end disappear, older records move forward by the section's
// length so the time line has no gap, and two time-only records break the traces at the joint.
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
// first and last shown record times), in the encoding it was read in. The new text goes to a
// temporary file that is flushed and renamed over the log, so a crash leaves the old or the new
// file, never a part. The caller holds off the writer (LogWriter::DeleteSection does).
// `error` says why on WriteFailed and CannotRead.
SectionDeletion DeleteLogSection(const std::string& path, int64_t start, int64_t end,
                                 std::string& error);

} // namespace kv
