#include "XmlText.h"

#include <utility>

namespace VXXML_1_2 {
namespace detail {

namespace {

bool IsContinuation(unsigned char b) { return (b & 0xC0) == 0x80; }

constexpr const char* kReplacement = "\xEF\xBF\xBD";  // U+FFFD

// Per byte, its value as a hexadecimal digit, or -1; and whether, alone, it
// is an XML character that escaping leaves as it is. Looked up rather than
// tested range by range: strings and names are converted a byte at a time
// and may be long.
struct ByteTables {
  signed char hex[256];
  bool plainAscii[256];
  constexpr ByteTables() : hex(), plainAscii() {
    for (int c = 0; c < 256; ++c) {
      hex[c] = c >= '0' && c <= '9'   ? static_cast<signed char>(c - '0')
               : c >= 'a' && c <= 'f' ? static_cast<signed char>(c - 'a' + 10)
               : c >= 'A' && c <= 'F' ? static_cast<signed char>(c - 'A' + 10)
                                      : -1;
      plainAscii[c] = c < 0x80 && (c >= 0x20 || c == '\t' || c == '\n') && c != '&' && c != '<' &&
                      c != '>' && c != '"' && c != '\'';
    }
  }
};
constexpr ByteTables kBytes;

int HexValue(char c) { return kBytes.hex[static_cast<unsigned char>(c)]; }

// Escapes the markup characters, carriage return and, when asked, tab and
// line feed; replaces what XML cannot carry.
std::string Escape(const std::string& text, bool attribute) {
  std::string out;
  out.reserve(text.size() + text.size() / 8);
  std::size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    // Most bytes are ASCII that needs no escaping (tab and line feed need it
    // only in attributes, below).
    if (kBytes.plainAscii[static_cast<unsigned char>(c)] && (!attribute || c >= 0x20)) {
      out += c;
      ++i;
      continue;
    }
    const std::size_t n = XmlCharLength(text, i);
    if (n == 0) {
      out += kReplacement;
      ++i;
      continue;
    }
    if (n > 1) {
      out.append(text, i, n);
    } else if (c == '&') {
      out += "&amp;";
    } else if (c == '<') {
      out += "&lt;";
    } else if (c == '>') {
      out += "&gt;";
    } else if (c == '"') {
      out += "&quot;";
    } else if (c == '\'') {
      out += "&apos;";
    } else if (c == '\r') {
      out += "&#13;";
    } else if (attribute && c == '\t') {
      out += "&#9;";
    } else if (attribute && c == '\n') {
      out += "&#10;";
    } else {
      out += c;
    }
    i += n;
  }
  return out;
}

}  // namespace

std::size_t XmlCharLength(const std::string& text, std::size_t i) {
  const std::size_t size = text.size();
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char b0 = byte(i);
  std::uint32_t cp = 0;
  std::size_t n = 0;
  if (b0 < 0x80) {
    cp = b0;
    n = 1;
  } else if (b0 >= 0xC2 && b0 <= 0xDF) {
    if (i + 1 >= size || !IsContinuation(byte(i + 1))) return 0;
    cp = (static_cast<std::uint32_t>(b0 & 0x1F) << 6) | (byte(i + 1) & 0x3F);
    n = 2;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    if (i + 2 >= size || !IsContinuation(byte(i + 1)) || !IsContinuation(byte(i + 2))) return 0;
    cp = (static_cast<std::uint32_t>(b0 & 0x0F) << 12) |
         (static_cast<std::uint32_t>(byte(i + 1) & 0x3F) << 6) | (byte(i + 2) & 0x3F);
    // Overlong forms and UTF-16 surrogates are not UTF-8.
    if (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    n = 3;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    if (i + 3 >= size || !IsContinuation(byte(i + 1)) || !IsContinuation(byte(i + 2)) ||
        !IsContinuation(byte(i + 3)))
      return 0;
    cp = (static_cast<std::uint32_t>(b0 & 0x07) << 18) |
         (static_cast<std::uint32_t>(byte(i + 1) & 0x3F) << 12) |
         (static_cast<std::uint32_t>(byte(i + 2) & 0x3F) << 6) | (byte(i + 3) & 0x3F);
    if (cp < 0x10000 || cp > 0x10FFFF) return 0;
    n = 4;
  } else {
    return 0;
  }
  return IsXmlChar(cp) ? n : 0;
}

bool IsXmlText(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size()) {
    if (kBytes.plainAscii[static_cast<unsigned char>(text[i])]) {
      ++i;
      continue;
    }
    const std::size_t n = XmlCharLength(text, i);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

void AppendUtf8(std::string& out, std::uint32_t cp) {
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

std::string EscapeText(const std::string& text) { return Escape(text, false); }

std::string EscapeAttribute(const std::string& text) { return Escape(text, true); }

std::string CommentText(const std::string& text) {
  std::string out;
  std::size_t i = 0;
  while (i < text.size()) {
    const std::size_t n = XmlCharLength(text, i);
    if (n == 0) {
      out += kReplacement;
      ++i;
      continue;
    }
    const char c = text[i];
    if (n > 1) {
      out.append(text, i, n);
    } else if (c == '\n' || c == '\r' || c == '\t') {
      out += ' ';
    } else {
      if (c == '-' && !out.empty() && out.back() == '-') out += ' ';
      out += c;
    }
    i += n;
  }
  return out;
}

std::string HexEncode(const std::string& bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  // Sized once and filled by index: a string value may be megabytes long.
  std::string out(bytes.size() * 2, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    out[2 * i] = kDigits[b >> 4];
    out[2 * i + 1] = kDigits[b & 0xF];
  }
  return out;
}

bool HexDecode(const std::string& hex, std::string& bytes) {
  if (hex.size() % 2 != 0) return false;
  std::string out(hex.size() / 2, '\0');
  for (std::size_t i = 0; i < out.size(); ++i) {
    const int hi = HexValue(hex[2 * i]);
    const int lo = HexValue(hex[2 * i + 1]);
    // Negative when either is: one test for the pair.
    if ((hi | lo) < 0) return false;
    out[i] = static_cast<char>((hi << 4) | lo);
  }
  bytes = std::move(out);
  return true;
}

}  // namespace detail
}  // namespace VXXML_1_2
