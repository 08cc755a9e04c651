// The two encodings a log file may be in, and conversion of its bytes to and from the UTF-8
// text the program works with.
//
// A file is UTF-16 little-endian (as this program writes it) when any of its first 10 bytes is a
// zero byte, otherwise 8-bit text. The 8-bit code page of this system is UTF-8; a line of an
// 8-bit file that is not valid UTF-8 comes from a Windows code page and is read as Windows-1252.
#pragma once

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

// UTF-8 text in the file's encoding.
std::string EncodeLogText(std::string_view utf8, LogEncoding encoding);

// UTF-8 text as UTF-16 little-endian bytes without a byte-order mark; a malformed sequence
// becomes U+FFFD.
std::string Utf16LeFromUtf8(std::string_view utf8);

} // namespace kv
