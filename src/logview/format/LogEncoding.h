// SPDX-License-Identifier: GPL-3.0-or-later
// The two encodings a log file may be in, and conversion of its bytes to and from the UTF-8
// text the program works with.
//
// A file is UTF-16 little-endian (as this program writes it) when any of its first 10 bytes is a
// zero byte, otherwise 8-bit text. The 8-bit code page of this system is UTF-8; a line of an
// 8-bit file that is not valid UTF-8 comes from a Windows code page and is read as Windows-1252.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kv {

enum class LogEncoding { Utf16Le, EightBit };

// The encoding of a file that starts with `bytes` (only the first 10 count). An empty file is
// UTF-16, the encoding new records are written in.
LogEncoding DetectLogEncoding(std::string_view bytes);

// The whole file as UTF-8 text. A UTF-16 code unit left incomplete at the end and unpaired
// surrogates are dropped / become U+FFFD, so a record being written never breaks the text.
std::string DecodeLogText(std::string_view bytes, LogEncoding encoding);

// How UTF-8 bytes of an 8-bit file stand, read up to the first line feed: Valid when they reach
// it (or the end of the file) as UTF-8, Invalid at the first malformed sequence, Open when the
// bytes end first.
enum class Utf8Check { Valid, Invalid, Open };

// Checks `bytes` up to the first line feed. `last`: they run to the end of the file. On Open,
// `checked` is how many bytes were checked; a sequence cut at their end is left for the next
// bytes.
Utf8Check CheckUtf8ToLineFeed(std::string_view bytes, bool last, size_t& checked);

// Appends the UTF-8 text of `bytes`, a piece of a line: UTF-16 code units (a surrogate pair not
// cut), or 8-bit bytes as they are or, with `windows1252`, read as Windows-1252.
void AppendLogText(std::string& out, std::string_view bytes, LogEncoding encoding,
                   bool windows1252);

// UTF-8 text in the file's encoding.
std::string EncodeLogText(std::string_view utf8, LogEncoding encoding);

// UTF-8 text as UTF-16 little-endian bytes without a byte-order mark; a malformed sequence
// becomes U+FFFD.
std::string Utf16LeFromUtf8(std::string_view utf8);

} // namespace kv
