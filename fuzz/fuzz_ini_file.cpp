// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer target of the INI document: any text parses; the saved text parses to the same
// document and saves to the same text again; a value written into the document reads back.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzCheck.h"
#include "settings/IniFile.h"

namespace {

using kv::IniFile;
using kv::fuzz::Require;

bool SameDocument(const IniFile& a, const IniFile& b) {
    if (a.SectionNames() != b.SectionNames()) return false;
    for (const std::string& section : a.SectionNames()) {
        if (a.Keys(section) != b.Keys(section)) return false;
        for (const std::string& key : a.Keys(section))
            if (a.Get(section, key) != b.Get(section, key)) return false;
    }
    return true;
}

// The input's last line, split at its first '=' and '|', names a section, key and value to write.
void WriteAndReadBack(IniFile& ini, std::string_view text) {
    const size_t lineStart = text.rfind('\n');
    const std::string_view line = text.substr(lineStart == text.npos ? 0 : lineStart + 1);
    const size_t bar = line.find('|'), equals = line.find('=', bar == line.npos ? 0 : bar);
    if (bar == line.npos || equals == line.npos) return;
    const std::string section(line.substr(0, bar)), key(line.substr(bar + 1, equals - bar - 1));
    const std::string value(line.substr(equals + 1));
    if (!ini.Set(section, key, value)) return;
    Require(ini.Get(section, key) == value, "a written value reads back");
    IniFile reread;
    reread.Parse(ini.Serialize());
    Require(reread.Get(section, key) == value, "a written value reads back after a save");
    Require(SameDocument(ini, reread), "a changed document survives a save");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    IniFile first;
    first.Parse(text);
    const std::string saved = first.Serialize();
    IniFile second;
    second.Parse(saved);
    Require(SameDocument(first, second), "parse, save, parse gives the same document");
    Require(second.Serialize() == saved, "saving twice gives the same text");
    WriteAndReadBack(second, text);
    return 0;
}
