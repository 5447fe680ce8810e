#include "support/utf16.h"

#include <cstdint>

namespace {

constexpr char32_t kReplacement = 0xFFFD;

void PutUnit(std::uint16_t unit, std::string& out) {
  out.push_back(static_cast<char>(unit & 0xFF));
  out.push_back(static_cast<char>(unit >> 8));
}

// Reads one code point from wide text at `i`, advancing `i`.
char32_t NextCodePoint(const std::wstring& text, std::size_t& i) {
  std::uint32_t c = static_cast<std::uint32_t>(text[i++]);
  if constexpr (sizeof(wchar_t) == 2) {
    if (c >= 0xD800 && c <= 0xDBFF && i < text.size()) {
      std::uint32_t low = static_cast<std::uint16_t>(text[i]);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        ++i;
        return 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
      }
    }
    return c;  // lone surrogates pass through unchanged on Windows
  } else {
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return kReplacement;
    return c;
  }
}

void PutWide(char32_t cp, std::wstring& out) {
  if constexpr (sizeof(wchar_t) == 2) {
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<wchar_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<wchar_t>(0xDC00 + (cp & 0x3FF)));
      return;
    }
  }
  out.push_back(static_cast<wchar_t>(cp));
}

}  // namespace

void AppendUtf16LE(const std::wstring& text, std::string& out) {
  out.reserve(out.size() + text.size() * 2);
  if constexpr (sizeof(wchar_t) == 2) {
    for (wchar_t c : text) PutUnit(static_cast<std::uint16_t>(c), out);
    return;
  }
  for (std::size_t i = 0; i < text.size();) {
    char32_t cp = NextCodePoint(text, i);
    if (cp >= 0x10000) {
      cp -= 0x10000;
      PutUnit(static_cast<std::uint16_t>(0xD800 + (cp >> 10)), out);
      PutUnit(static_cast<std::uint16_t>(0xDC00 + (cp & 0x3FF)), out);
    } else {
      PutUnit(static_cast<std::uint16_t>(cp), out);
    }
  }
}

std::wstring DecodeUtf16LE(const std::string& bytes) {
  std::wstring out;
  out.reserve(bytes.size() / 2);
  std::size_t n = bytes.size() / 2;
  for (std::size_t k = 0; k < n; ++k) {
    std::uint16_t unit = static_cast<std::uint8_t>(bytes[2 * k]) |
                         static_cast<std::uint16_t>(static_cast<std::uint8_t>(bytes[2 * k + 1]) << 8);
    if constexpr (sizeof(wchar_t) == 2) {
      out.push_back(static_cast<wchar_t>(unit));
    } else {
      if (unit >= 0xD800 && unit <= 0xDBFF && k + 1 < n) {
        std::uint16_t low = static_cast<std::uint8_t>(bytes[2 * k + 2]) |
                            static_cast<std::uint16_t>(static_cast<std::uint8_t>(bytes[2 * k + 3]) << 8);
        if (low >= 0xDC00 && low <= 0xDFFF) {
          out.push_back(static_cast<wchar_t>(0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00)));
          ++k;
          continue;
        }
      }
      out.push_back(unit >= 0xD800 && unit <= 0xDFFF ? static_cast<wchar_t>(kReplacement)
                                                     : static_cast<wchar_t>(unit));
    }
  }
  if (bytes.size() % 2 != 0) out.push_back(static_cast<wchar_t>(kReplacement));
  return out;
}

void AppendUtf8(char32_t cp, std::string& out) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

std::string WideToUtf8(const std::wstring& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    char32_t cp = NextCodePoint(text, i);
    if (cp >= 0xD800 && cp <= 0xDFFF) cp = kReplacement;
    AppendUtf8(cp, out);
  }
  return out;
}

std::wstring Utf8ToWideLossy(const std::string& text) {
  std::wstring out;
  std::size_t i = 0;
  const std::size_t n = text.size();
  while (i < n) {
    unsigned char b = static_cast<unsigned char>(text[i]);
    char32_t cp;
    std::size_t len;
    char32_t min;
    if (b < 0x80) { cp = b; len = 1; min = 0; }
    else if ((b & 0xE0) == 0xC0) { cp = b & 0x1F; len = 2; min = 0x80; }
    else if ((b & 0xF0) == 0xE0) { cp = b & 0x0F; len = 3; min = 0x800; }
    else if ((b & 0xF8) == 0xF0) { cp = b & 0x07; len = 4; min = 0x10000; }
    else { PutWide(kReplacement, out); ++i; continue; }
    if (i + len > n) { PutWide(kReplacement, out); ++i; continue; }
    bool ok = true;
    for (std::size_t k = 1; k < len; ++k) {
      unsigned char c = static_cast<unsigned char>(text[i + k]);
      if ((c & 0xC0) != 0x80) { ok = false; break; }
      cp = (cp << 6) | (c & 0x3F);
    }
    if (!ok || cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      PutWide(kReplacement, out);
      ++i;
      continue;
    }
    PutWide(cp, out);
    i += len;
  }
  return out;
}
