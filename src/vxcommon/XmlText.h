// Character-level helpers shared by the object stream and the tree writer:
// which byte strings XML 1.0 can carry, and how text is escaped for it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace VXXML_1_2 {
namespace detail {

// The characters an XML 1.0 document may contain (its Char production).
inline bool IsXmlChar(std::uint32_t cp) {
  return cp == 0x9 || cp == 0xA || cp == 0xD || (cp >= 0x20 && cp <= 0xD7FF) ||
         (cp >= 0xE000 && cp <= 0xFFFD) || (cp >= 0x10000 && cp <= 0x10FFFF);
}

inline bool IsXmlSpace(int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// Length of the well-formed UTF-8 sequence at text[i] when it encodes an XML
// character; 0 when the bytes there are not one (invalid, overlong or
// surrogate encodings, truncated sequences, characters XML excludes).
std::size_t XmlCharLength(const std::string& text, std::size_t i);

// True when every byte of text belongs to an XML character.
bool IsXmlText(const std::string& text);

void AppendUtf8(std::string& out, std::uint32_t cp);

// Text content: & < > " ' and carriage return as references (a literal CR
// would be folded into a line end by any XML reader); bytes that are not XML
// characters become U+FFFD.
std::string EscapeText(const std::string& text);

// As EscapeText, and tab and line feed as references too, because readers
// turn literal ones in attribute values into spaces.
std::string EscapeAttribute(const std::string& text);

// One-line comment body: line breaks become spaces, "--" is split, bytes that
// are not XML characters become U+FFFD.
std::string CommentText(const std::string& text);

std::string HexEncode(const std::string& bytes);
// False on an odd length or a character that is not a hexadecimal digit.
bool HexDecode(const std::string& hex, std::string& bytes);

}  // namespace detail
}  // namespace VXXML_1_2
