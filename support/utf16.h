// Wide text as UTF-16 code units, whatever the width of wchar_t: the log file
// and other on-disk formats are UTF-16LE on every platform.
#pragma once

#include <string>

// Appends the UTF-16LE bytes of `text` to `out`. A wchar_t beyond U+FFFF
// (only where wchar_t is 32 bits) becomes a surrogate pair; one that is no
// Unicode scalar value becomes U+FFFD.
void AppendUtf16LE(const std::wstring& text, std::string& out);

// Decodes UTF-16LE bytes into wide text; a lone surrogate or a final odd byte
// becomes U+FFFD where wchar_t is 32 bits, and is kept as it is on Windows.
std::wstring DecodeUtf16LE(const std::string& bytes);

// Appends the UTF-8 bytes of one code point (at most U+10FFFF).
void AppendUtf8(char32_t codePoint, std::string& out);

// UTF-8 text from wide text, and back; malformed input becomes U+FFFD.
std::string WideToUtf8(const std::wstring& text);
std::wstring Utf8ToWideLossy(const std::string& text);
