// SPDX-License-Identifier: GPL-3.0-or-later
#include "positions/ResultsFile.h"

#include <optional>

#include "logview/format/LogRecordText.h"
#include "platform/AtomicFile.h"
#include "platform/FileAccess.h"

namespace kv {

bool AppendResultsText(const std::string& path, const std::string& text) {
    if (path.empty()) return false;
    const ScopedFile file(OpenFile(path, OpenMode::ReadWrite));
    if (file.Get() < 0) return false;
    const std::optional<FileStatus> status = StatusOf(file.Get());
    if (!status || status->Kind != FileKind::Regular) return false;
    return AppendWhole(file.Get(), Utf16LeFromUtf8(text));
}

} // namespace kv
