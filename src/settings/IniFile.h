// SPDX-License-Identifier: GPL-3.0-or-later
// An INI text document: named sections of key=value lines, as Windows private-profile files and
// the settings store use them.
//
// - Section and key names are compared without regard to ASCII letter case; a name keeps the
//   spelling it was first written with.
// - LF, CRLF and CR files are read (a UTF-8 byte-order mark is kept, a UTF-16 LE file is
//   converted to UTF-8; further marks at the start of the text are dropped); a saved file uses
//   the line ends of the file it was read from (LF or CRLF). Every run of CRs, with or without an
//   LF after it, ends a line, so no value holds a CR and load, save, load gives the same document.
// - Lines that are neither a section header nor key=value (comments, garbage, keys before the
//   first section) are ignored for lookups and written back unchanged, as are unknown sections
//   and keys.
// - A section name that occurs more than once names one merged section: a key is looked up in
//   the occurrences in file order and the first value found wins; writing a key changes that
//   first value, or adds the key to the first occurrence.
// - Blanks around names and values are not part of them. A value with leading or trailing
//   blanks, or one enclosed in a pair of the same quote characters, is written enclosed in
//   double quotes; reading removes one pair of matching quotes, as Windows does.
// - Saving is atomic: the text goes to a temporary file in the same folder, is flushed to disk
//   and then renamed over the old file, so a failed save leaves the old file intact.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kv {

class IniFile {
public:
    enum class LoadResult { Loaded, Missing, Failed };

    // Reads the file at `path`, replacing the document. A missing file gives an empty document;
    // an unreadable one gives an empty document, Failed and LastError().
    LoadResult Load(const std::string& path);
    void Parse(std::string_view text);
    std::string Serialize() const;
    // Writes the document atomically; false (old file untouched) with LastError() on failure.
    bool Save(const std::string& path);

    std::optional<std::string> Get(std::string_view section, std::string_view key) const;
    // False, document unchanged, when a name or the value cannot be represented in an INI line
    // (an empty name, a line break, '=' in a key, a key starting with '[', ';' or '#').
    bool Set(std::string_view section, std::string_view key, std::string_view value);
    // Section names in file order, each once, with the spelling of its first occurrence.
    std::vector<std::string> SectionNames() const;
    // Key names of a (merged) section in file order, each once.
    std::vector<std::string> Keys(std::string_view section) const;

    const std::string& LastError() const { return lastError_; }

    // Files larger than this are not read (they are no settings file).
    static constexpr size_t MaxFileSize = 16 * 1024 * 1024;

private:
    struct Entry {
        std::string Raw;    // the line as read or as last written
        std::string Key;    // empty for lines that hold no key
        std::string Folded; // Key in lower case
        std::string Value;
    };
    struct Section {
        std::string Raw; // the header line
        std::string Name;
        std::string Folded;
        std::vector<Entry> Entries;
    };

    void ParseLine(std::string_view line);
    void RemoveLineEnd(std::string_view& text);
    // The first entry of the key in the occurrences of the section; const or mutable.
    template <class Sections>
    static auto FindEntryIn(Sections& sections, std::string_view foldedSection,
                            std::string_view foldedKey) -> decltype(&sections[0].Entries[0]);
    Section* FindSection(std::string_view foldedSection);

    std::vector<std::string> preamble_; // lines before the first section header
    std::vector<Section> sections_;
    std::string bom_;
    bool crlf_ = false;
    bool sawLineEnd_ = false;
    std::string lastError_;
};

// ASCII lower case, the comparison form of section and key names.
std::string FoldCase(std::string_view text);

} // namespace kv
