#include "positions/ResultsFile.h"

#include <optional>

#include "logview/format/LogRecordText.h"
#include "platform/FileAccess.h"

namespace kv {

bool AppendResultsText(const std::string& path, const std::string& text) {
    if (path.empty()) return false;
    const ScopedFile file(OpenFile(path, OpenMode::ReadWrite));
    if (file.Get() < 0) return false;
    const std::optional<FileStatus> status = StatusOf(file.Get());
    if (!status || status->Kind != FileKind::Regular) return false;
    const std::string bytes = Utf16LeFromUtf8(text);
    return WriteAt(file.Get(), bytes.data(), bytes.size(), status->Size);
}

} // namespace kv
