// SPDX-License-Identifier: GPL-3.0-or-later
// Parsing, lookup and writing of INI documents; the file operations are in AtomicFile.cpp.
#include "settings/IniFile.h"

#include <algorithm>
#include <cstdint>

#include "platform/AtomicFile.h"

namespace kv {

namespace {

constexpr std::string_view Utf8Bom = "\xEF\xBB\xBF";

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

bool IsQuote(char c) {
    return c == '"' || c == '\'';
}

bool EnclosedInQuotes(std::string_view text) {
    return text.size() >= 2 && IsQuote(text.front()) && text.front() == text.back();
}

std::string_view Unquote(std::string_view text) {
    return EnclosedInQuotes(text) ? text.substr(1, text.size() - 2) : text;
}

std::string Quote(std::string_view value) {
    const bool needed = !value.empty() && (IsBlank(value.front()) || IsBlank(value.back()) ||
                                           EnclosedInQuotes(value));
    return needed ? "\"" + std::string(value) + "\"" : std::string(value);
}

bool HasLineBreak(std::string_view text) {
    return text.find_first_of("\r\n") != std::string_view::npos;
}

bool ValidSectionName(std::string_view name) {
    return !name.empty() && !HasLineBreak(name);
}

bool ValidKey(std::string_view key) {
    return !key.empty() && !HasLineBreak(key) && key.find('=') == std::string_view::npos &&
           key.front() != '[' && key.front() != ';' && key.front() != '#';
}

void AppendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// UTF-16 little-endian text (after its byte-order mark) as UTF-8; lone surrogates become U+FFFD.
std::string Utf16LeToUtf8(std::string_view bytes) {
    std::string out;
    auto unit = [&](size_t i) {
        return static_cast<uint32_t>(static_cast<unsigned char>(bytes[i]) |
                                     (static_cast<unsigned char>(bytes[i + 1]) << 8));
    };
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        uint32_t cp = unit(i);
        if (cp >= 0xD800 && cp < 0xDC00 && i + 3 < bytes.size() && unit(i + 2) >= 0xDC00 &&
            unit(i + 2) < 0xE000) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (unit(i + 2) - 0xDC00);
            i += 2;
        } else if (cp >= 0xD800 && cp < 0xE000) {
            cp = 0xFFFD;
        }
        AppendUtf8(out, cp);
    }
    return out;
}

} // namespace

std::string FoldCase(std::string_view text) {
    std::string folded(Trim(text));
    for (char& c : folded)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return folded;
}

IniFile::LoadResult IniFile::Load(const std::string& path) {
    std::string text;
    lastError_.clear();
    const FileReadResult result = ReadWholeFile(path, MaxFileSize, text, lastError_);
    Parse(text);
    if (result == FileReadResult::Missing) return LoadResult::Missing;
    return result == FileReadResult::Read ? LoadResult::Loaded : LoadResult::Failed;
}

void IniFile::Parse(std::string_view text) {
    preamble_.clear();
    sections_.clear();
    bom_.clear();
    crlf_ = false;
    sawLineEnd_ = false;
    std::string converted;
    if (text.substr(0, 2) == "\xFF\xFE") {
        converted = Utf16LeToUtf8(text.substr(2));
        text = converted;
    } else if (text.substr(0, 3) == Utf8Bom) {
        bom_ = Utf8Bom;
    }
    // Byte-order marks at the start of the text are no part of its first line, however many an
    // editor left there; a UTF-8 file keeps one.
    while (text.substr(0, 3) == Utf8Bom)
        text.remove_prefix(3);
    while (!text.empty()) {
        const size_t end = std::min(text.find_first_of("\r\n"), text.size());
        ParseLine(text.substr(0, end));
        text.remove_prefix(end);
        RemoveLineEnd(text);
    }
}

// A line ends with LF, with CRs before an LF ("\r\n", "\r\r\n") or with CRs alone: a line never
// holds a CR, which a written value cannot, so a saved file reads back the same.
void IniFile::RemoveLineEnd(std::string_view& text) {
    size_t length = 0;
    while (length < text.size() && text[length] == '\r')
        ++length;
    const bool lf = length < text.size() && text[length] == '\n';
    if (lf) ++length;
    if (length > 0 && !sawLineEnd_) {
        crlf_ = lf && length > 1;
        sawLineEnd_ = true;
    }
    text.remove_prefix(length);
}

void IniFile::ParseLine(std::string_view line) {
    const std::string_view trimmed = Trim(line);
    const size_t close = trimmed.rfind(']');
    if (!trimmed.empty() && trimmed.front() == '[' && close != std::string_view::npos) {
        const std::string_view name = Trim(trimmed.substr(1, close - 1));
        sections_.push_back({std::string(line), std::string(name), FoldCase(name), {}});
        return;
    }
    if (sections_.empty()) {
        preamble_.emplace_back(line);
        return;
    }
    Entry entry{std::string(line), {}, {}, {}};
    const size_t equals = trimmed.find('=');
    const std::string_view key = Trim(trimmed.substr(0, std::min(equals, trimmed.size())));
    if (equals != std::string_view::npos && ValidKey(key)) {
        entry.Key = key;
        entry.Folded = FoldCase(key);
        entry.Value = Unquote(Trim(trimmed.substr(equals + 1)));
    }
    sections_.back().Entries.push_back(std::move(entry));
}

std::string IniFile::Serialize() const {
    const char* eol = crlf_ ? "\r\n" : "\n";
    std::string out = bom_;
    for (const std::string& line : preamble_)
        out.append(line).append(eol);
    for (const Section& section : sections_) {
        out.append(section.Raw).append(eol);
        for (const Entry& entry : section.Entries)
            out.append(entry.Raw).append(eol);
    }
    return out;
}

bool IniFile::Save(const std::string& path) {
    lastError_.clear();
    return WriteFileAtomically(path, Serialize(), lastError_);
}

template <class Sections>
auto IniFile::FindEntryIn(Sections& sections, std::string_view foldedSection,
                          std::string_view foldedKey) -> decltype(&sections[0].Entries[0]) {
    for (auto& section : sections) {
        if (section.Folded != foldedSection) continue;
        for (auto& entry : section.Entries)
            if (!entry.Key.empty() && entry.Folded == foldedKey) return &entry;
    }
    return nullptr;
}

IniFile::Section* IniFile::FindSection(std::string_view foldedSection) {
    for (Section& section : sections_)
        if (section.Folded == foldedSection) return &section;
    return nullptr;
}

std::optional<std::string> IniFile::Get(std::string_view section, std::string_view key) const {
    const Entry* entry = FindEntryIn(sections_, FoldCase(section), FoldCase(key));
    if (entry == nullptr) return std::nullopt;
    return entry->Value;
}

bool IniFile::Set(std::string_view section, std::string_view key, std::string_view value) {
    section = Trim(section);
    key = Trim(key);
    if (!ValidSectionName(section) || !ValidKey(key) || HasLineBreak(value)) return false;
    const std::string foldedSection = FoldCase(section);
    Entry* existing = FindEntryIn(sections_, foldedSection, FoldCase(key));
    if (existing != nullptr) {
        existing->Value = value;
        existing->Raw = existing->Key + "=" + Quote(value);
        return true;
    }
    Section* target = FindSection(foldedSection);
    if (target == nullptr) {
        const std::string name(section);
        sections_.push_back({"[" + name + "]", name, foldedSection, {}});
        target = &sections_.back();
    }
    auto lastKey = std::find_if(target->Entries.rbegin(), target->Entries.rend(),
                                [](const Entry& e) { return !e.Key.empty(); });
    target->Entries.insert(lastKey.base(),
                           Entry{std::string(key) + "=" + Quote(value), std::string(key),
                                 FoldCase(key), std::string(value)});
    return true;
}

std::vector<std::string> IniFile::SectionNames() const {
    std::vector<std::string> names, folded;
    for (const Section& section : sections_) {
        if (section.Name.empty()) continue;
        if (std::find(folded.begin(), folded.end(), section.Folded) != folded.end()) continue;
        folded.push_back(section.Folded);
        names.push_back(section.Name);
    }
    return names;
}

std::vector<std::string> IniFile::Keys(std::string_view section) const {
    const std::string foldedSection = FoldCase(section);
    std::vector<std::string> keys, folded;
    for (const Section& s : sections_) {
        if (s.Folded != foldedSection) continue;
        for (const Entry& entry : s.Entries) {
            if (entry.Key.empty()) continue;
            if (std::find(folded.begin(), folded.end(), entry.Folded) != folded.end()) continue;
            folded.push_back(entry.Folded);
            keys.push_back(entry.Key);
        }
    }
    return keys;
}

} // namespace kv
