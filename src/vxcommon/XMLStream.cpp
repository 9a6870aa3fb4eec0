#include "vxcommon/XMLStream.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <istream>
#include <limits>
#include <ostream>
#include <streambuf>
#include <string_view>

#include "XmlText.h"

namespace VXXML_1_2 {

namespace {

using detail::IsXmlSpace;

constexpr const char* kObjectTag = "object";
constexpr const char* kNanPrefix = "nan:0x";

// Limits that keep a hostile stream from making the reader allocate or scan
// without end. No name or number this stream writes comes near them.
constexpr std::size_t kMaxNameBytes = 32;
constexpr std::size_t kMaxNumberBytes = 64;
constexpr std::size_t kMaxPrologBytes = 1024;
constexpr std::size_t kMaxReferenceDigits = 8;
// Bytes one reader may consume: the construct with the white space and
// comments before it; string values may add their own limit (twice over, as
// hexadecimal). It keeps even an endless stream from holding a reader.
constexpr std::size_t kReadBudget = std::size_t{1} << 20;
constexpr std::size_t kStringReadBudget = kReadBudget + 2 * kMaxStringBytes;

// Which reads of a stream buffer (a byte, or end of input at index 0) may
// be taken as they are inside character data (kTextPlain) or a quoted
// attribute value (kValuePlain): everything but markup, references, quotes
// and the end. Runs of them are read with one test a byte, which matters
// because string values and names may be long.
constexpr int kEndIndex = 0;
struct PlainTable {
  bool plain[257];
  constexpr explicit PlainTable(bool quotes) : plain() {
    for (int c = 0; c < 256; ++c)
      plain[c + 1] = c != '<' && c != '&' && (!quotes || (c != '"' && c != '\''));
    plain[kEndIndex] = false;
  }
};
constexpr PlainTable kTextPlain(false);
constexpr PlainTable kValuePlain(true);

// The reads that end a tag or attribute name: the end, white space and the
// markup characters. Every element's name is read twice, so one test a byte
// instead of a dozen shows.
struct NameEndTable {
  bool ends[257];
  constexpr NameEndTable() : ends() {
    ends[kEndIndex] = true;
    for (const char c : {' ', '\t', '\n', '\r', '>', '/', '=', '<', '&', '"', '\''})
      ends[static_cast<unsigned char>(c) + 1] = true;
  }
};
constexpr NameEndTable kNameEnds;
static_assert(std::char_traits<char>::eof() == -1, "end of input indexes the tables at 0");

std::string Indent(int level) {
  return std::string(level > 0 ? static_cast<std::size_t>(level) * 2 : 0, ' ');
}

bool WriteLine(std::ostream& out, const std::string& line) {
  out.write(line.data(), static_cast<std::streamsize>(line.size()));
  return out.good();
}

std::string Element(int level, const char* tag, std::string_view text) {
  std::string line = Indent(level + 1);
  line += '<';
  line += tag;
  line += '>';
  line += text;
  line += "</";
  line += tag;
  line += ">\n";
  return line;
}

template <typename T>
std::string IntegerText(T value) {
  char buffer[32];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

std::string DoubleText(double value) {
  if (std::isnan(value)) {
    // The whole bit pattern, so that sign and payload survive.
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text = kNanPrefix;
    for (int shift = 60; shift >= 0; shift -= 4) text += kDigits[(bits >> shift) & 0xF];
    return text;
  }
  char buffer[32];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsXmlSpace(static_cast<unsigned char>(text.front())))
    text.remove_prefix(1);
  while (!text.empty() && IsXmlSpace(static_cast<unsigned char>(text.back())))
    text.remove_suffix(1);
  return text;
}

template <typename T>
bool ParseInteger(std::string_view text, T& value) {
  text = Trim(text);
  if (text.empty()) return false;
  T parsed{};
  const auto result = std::from_chars(text.data(), text.data() + text.size(), parsed);
  if (result.ec != std::errc() || result.ptr != text.data() + text.size()) return false;
  value = parsed;
  return true;
}

bool ParseDouble(std::string_view text, double& value) {
  text = Trim(text);
  if (text.empty()) return false;
  const std::size_t prefix = std::strlen(kNanPrefix);
  if (text.size() == prefix + 16 && text.substr(0, prefix) == kNanPrefix) {
    std::uint64_t bits = 0;
    const char* begin = text.data() + prefix;
    const auto result = std::from_chars(begin, begin + 16, bits, 16);
    if (result.ec != std::errc() || result.ptr != begin + 16) return false;
    double parsed;
    std::memcpy(&parsed, &bits, sizeof parsed);
    if (!std::isnan(parsed)) return false;
    value = parsed;
    return true;
  }
  if (text == "nan") {
    value = std::numeric_limits<double>::quiet_NaN();
    return true;
  }
  if (text == "inf" || text == "-inf") {
    value = text[0] == '-' ? -std::numeric_limits<double>::infinity()
                           : std::numeric_limits<double>::infinity();
    return true;
  }
  // Plain decimal notation only: from_chars would also take "infinity" and
  // "nan(...)" spellings this writer never produces.
  for (const char c : text)
    if (!((c >= '0' && c <= '9') || c == '-' || c == '+' || c == '.' || c == 'e' || c == 'E'))
      return false;
  double parsed = 0.0;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), parsed);
  if (result.ec != std::errc() || result.ptr != text.data() + text.size()) return false;
  value = parsed;
  return true;
}

bool ParseBool(std::string_view text, bool& value) {
  text = Trim(text);
  if (text == "1" || text == "true") {
    value = true;
    return true;
  }
  if (text == "0" || text == "false") {
    value = false;
    return true;
  }
  return false;
}

// A pull tokenizer reading the stream one character at a time, with one
// character of look-ahead, so that each reader stops right after its own
// construct and the next reader starts there.
class Lexer {
 public:
  enum Markup { kNone, kTag, kDeclaration };

  Lexer(std::istream& in, std::size_t budget) : fIn(in), fBuf(in.rdbuf()), fBudget(budget) {}

  bool Ready() const { return fBuf != nullptr && fIn.good(); }

  // Both answer end of input once the budget is spent.
  int Peek() {
    if (fBudget == 0) return std::char_traits<char>::eof();
    const int c = fBuf->sgetc();
    if (c == std::char_traits<char>::eof()) fIn.setstate(std::ios::eofbit);
    return c;
  }

  int Get() {
    if (fBudget == 0) {
      fIn.setstate(std::ios::failbit);
      return std::char_traits<char>::eof();
    }
    --fBudget;
    const int c = fBuf->sbumpc();
    if (c == std::char_traits<char>::eof()) fIn.setstate(std::ios::eofbit | std::ios::failbit);
    return c;
  }

  bool Expect(char expected) { return Get() == static_cast<unsigned char>(expected); }

  // Reads bytes the table calls plain onto out, until out holds room bytes
  // more or the budget is spent (then kRunFull), or until a byte that is not
  // plain, or the end, which is consumed and returned as Get would return it.
  static constexpr int kRunFull = -2;
  int PlainRun(std::string& out, std::size_t room, const PlainTable& table) {
    room = std::min(room, fBudget);
    fBudget -= room;
    for (; room > 0; --room) {
      const int c = fBuf->sbumpc();
      if (table.plain[c + 1]) {
        out += static_cast<char>(c);
        continue;
      }
      fBudget += room - 1;
      if (c == std::char_traits<char>::eof()) fIn.setstate(std::ios::eofbit | std::ios::failbit);
      return c;
    }
    return kRunFull;
  }

  // Room for a value refused beyond maxBytes: up to one byte past it.
  static std::size_t Room(const std::string& value, std::size_t maxBytes) {
    return value.size() > maxBytes ? 0 : maxBytes - value.size() + 1;
  }

  bool ExpectWord(const char* word) {
    for (; *word != '\0'; ++word)
      if (!Expect(*word)) return false;
    return true;
  }

  void SkipSpace() {
    while (IsXmlSpace(Peek())) Get();
  }

  // Skips white space and comments up to the next markup and consumes its
  // '<' (kTag) or "<!" (kDeclaration, when not a comment).
  Markup OpenMarkup() {
    for (;;) {
      SkipSpace();
      if (!Expect('<')) return kNone;
      if (Peek() != '!') return kTag;
      Get();
      if (Peek() != '-') return kDeclaration;
      Get();
      if (!Expect('-') || !SkipCommentBody()) return kNone;
    }
  }

  // After "<!--": up to and including "-->".
  bool SkipCommentBody() {
    int dashes = 0;
    for (;;) {
      const int c = Get();
      if (c == std::char_traits<char>::eof()) return false;
      if (c == '>' && dashes >= 2) return true;
      dashes = c == '-' ? dashes + 1 : 0;
    }
  }

  // A tag or attribute name: up to white space or a markup character.
  bool ReadName(std::string& name) {
    name.clear();
    for (;;) {
      if (kNameEnds.ends[Peek() + 1]) break;
      if (name.size() >= kMaxNameBytes) return false;
      name += static_cast<char>(Get());
    }
    return !name.empty();
  }

  bool ExpectName(const char* expected) {
    std::string name;
    return ReadName(name) && name == expected;
  }

  // After '&': a predefined entity or a character reference, appended as
  // UTF-8.
  bool ReadReference(std::string& out) {
    if (Peek() == '#') {
      Get();
      int base = 10;
      if (Peek() == 'x') {
        Get();
        base = 16;
      }
      std::uint32_t cp = 0;
      std::size_t digits = 0;
      for (;;) {
        const int c = Get();
        if (c == ';') break;
        int digit = -1;
        if (c >= '0' && c <= '9') digit = c - '0';
        if (base == 16 && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        if (base == 16 && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
        if (digit < 0 || ++digits > kMaxReferenceDigits) return false;
        cp = cp * static_cast<std::uint32_t>(base) + static_cast<std::uint32_t>(digit);
      }
      if (digits == 0 || !detail::IsXmlChar(cp)) return false;
      detail::AppendUtf8(out, cp);
      return true;
    }
    char name[5];
    std::size_t length = 0;
    for (;;) {
      const int c = Get();
      if (c == ';') break;
      if (c == std::char_traits<char>::eof() || length == sizeof name) return false;
      name[length++] = static_cast<char>(c);
    }
    const std::string_view entity(name, length);
    if (entity == "amp") {
      out += '&';
    } else if (entity == "lt") {
      out += '<';
    } else if (entity == "gt") {
      out += '>';
    } else if (entity == "quot") {
      out += '"';
    } else if (entity == "apos") {
      out += '\'';
    } else {
      return false;
    }
    return true;
  }

  // A quoted attribute value, references decoded; refused beyond maxBytes.
  bool ReadAttributeValue(std::string& value, std::size_t maxBytes) {
    value.clear();
    const int quote = Get();
    if (quote != '"' && quote != '\'') return false;
    for (;;) {
      int c = PlainRun(value, Room(value, maxBytes), kValuePlain);
      if (value.size() > maxBytes) return false;
      if (c == kRunFull) c = Get();
      if (c == quote) return true;
      if (c == std::char_traits<char>::eof() || c == '<') return false;
      if (c == '&') {
        if (!ReadReference(value)) return false;
      } else {
        value += static_cast<char>(c);
      }
      if (value.size() > maxBytes) return false;
    }
  }

  // Attributes of a start tag up to its '>': each name must be one of the
  // accepted ones and appear once. Values are refused beyond maxBytes.
  template <std::size_t N>
  bool ReadAttributes(const char* const (&names)[N], std::string (&values)[N], bool (&seen)[N],
                      const std::size_t (&maxBytes)[N]) {
    for (std::size_t i = 0; i < N; ++i) seen[i] = false;
    for (;;) {
      const int c = Peek();
      if (c == '>') {
        Get();
        return true;
      }
      if (!IsXmlSpace(c)) return false;
      SkipSpace();
      if (Peek() == '>') continue;
      std::string name;
      if (!ReadName(name)) return false;
      std::size_t k = 0;
      while (k < N && name != names[k]) ++k;
      if (k == N || seen[k]) return false;
      SkipSpace();
      if (!Expect('=')) return false;
      SkipSpace();
      if (!ReadAttributeValue(values[k], maxBytes[k])) return false;
      seen[k] = true;
    }
  }

  // Character data up to and including the next '<', references decoded;
  // refused beyond maxBytes.
  bool ReadText(std::string& text, std::size_t maxBytes) {
    text.clear();
    for (;;) {
      int c = PlainRun(text, Room(text, maxBytes), kTextPlain);
      if (text.size() > maxBytes) return false;
      if (c == kRunFull) c = Get();
      if (c == '<') return true;
      if (c == std::char_traits<char>::eof()) return false;
      if (c == '&') {
        if (!ReadReference(text)) return false;
      } else {
        text += static_cast<char>(c);
      }
      if (text.size() > maxBytes) return false;
    }
  }

  // After the '<' that ended the text: "/tag>".
  bool CloseTag(const char* tag) {
    if (!Expect('/') || !ExpectName(tag)) return false;
    SkipSpace();
    return Expect('>');
  }

  // After "<?": the XML declaration, whose pseudo-attributes are not checked.
  bool SkipXmlDeclaration() {
    if (!ExpectWord("?xml") || !IsXmlSpace(Get())) return false;
    int previous = 0;
    for (std::size_t n = 0; n < kMaxPrologBytes; ++n) {
      const int c = Get();
      if (c == std::char_traits<char>::eof() || c == '<') return false;
      if (c == '>' && previous == '?') return true;
      previous = c;
    }
    return false;
  }

  // After "<!": a document type naming the root, without internal subset.
  bool SkipDocType() {
    if (!ExpectWord("DOCTYPE") || !IsXmlSpace(Get())) return false;
    SkipSpace();
    if (!ExpectName(kRootName)) return false;
    for (std::size_t n = 0; n < kMaxPrologBytes; ++n) {
      const int c = Get();
      if (c == '>') return true;
      if (c == std::char_traits<char>::eof() || c == '<' || c == '[') return false;
      if (n == 0 && !IsXmlSpace(c)) return false;
    }
    return false;
  }

  // A value element <tag>text</tag> without attributes.
  bool ReadSimpleValue(const char* tag, std::string& text) {
    if (OpenMarkup() != kTag || !ExpectName(tag)) return false;
    SkipSpace();
    return Expect('>') && ReadText(text, kMaxNumberBytes) && CloseTag(tag);
  }

 private:
  std::istream& fIn;
  std::streambuf* fBuf;
  std::size_t fBudget;
};

// Runs a reader, turning anything thrown by the stream into a refusal.
template <typename F>
bool Guarded(std::istream& in, F&& read, std::size_t budget = kReadBudget) {
  try {
    Lexer lexer(in, budget);
    if (!lexer.Ready()) return false;
    return read(lexer);
  } catch (...) {
    return false;
  }
}

template <typename T>
bool ParseIntegerValue(std::istream& in, const char* tag, T& value) {
  return Guarded(in, [&](Lexer& lexer) {
    std::string text;
    return lexer.ReadSimpleValue(tag, text) && ParseInteger(text, value);
  });
}

}  // namespace

XMLObj::XMLObj(std::string name, int level) : fName(std::move(name)), fLevel(level) {}

bool XMLObj::StartObj(std::ostream& out) const {
  std::string line = Indent(fLevel);
  line += "<object name=\"";
  // A name XML cannot carry is written in hexadecimal, like such strings.
  if (detail::IsXmlText(fName)) {
    line += detail::EscapeAttribute(fName);
    line += "\">\n";
  } else {
    line += detail::HexEncode(fName);
    line += "\" enc=\"hex\">\n";
  }
  return WriteLine(out, line);
}

bool XMLObj::WriteSubElement(std::ostream& out, int value) const {
  return WriteLine(out, Element(fLevel, "int", IntegerText(value)));
}

bool XMLObj::WriteSubElement(std::ostream& out, long value) const {
  return WriteLine(out, Element(fLevel, "long", IntegerText(value)));
}

bool XMLObj::WriteSubElement(std::ostream& out, unsigned int value) const {
  return WriteLine(out, Element(fLevel, "unsigned", IntegerText(value)));
}

bool XMLObj::WriteSubElement(std::ostream& out, double value) const {
  return WriteLine(out, Element(fLevel, "double", DoubleText(value)));
}

bool XMLObj::WriteSubElement(std::ostream& out, bool value) const {
  return WriteLine(out, Element(fLevel, "bool", value ? "1" : "0"));
}

bool XMLObj::WriteSubElement(std::ostream& out, const std::string& value) const {
  if (detail::IsXmlText(value))
    return WriteLine(out, Element(fLevel, "string", detail::EscapeText(value)));
  std::string line = Indent(fLevel + 1);
  line += "<string enc=\"hex\">";
  line += detail::HexEncode(value);
  line += "</string>\n";
  return WriteLine(out, line);
}

bool XMLObj::WriteSubElement(std::ostream& out, const char* value) const {
  return WriteSubElement(out, std::string(value != nullptr ? value : ""));
}

bool XMLObj::EndObj(std::ostream& out) const {
  return WriteLine(out, Indent(fLevel) + "</object>\n");
}

bool ParseStartXML(std::istream& in) {
  return Guarded(in, [](Lexer& lexer) {
    bool seenDeclaration = false;
    bool seenDocType = false;
    for (;;) {
      const Lexer::Markup markup = lexer.OpenMarkup();
      if (markup == Lexer::kNone) return false;
      if (markup == Lexer::kDeclaration) {
        if (seenDocType || !lexer.SkipDocType()) return false;
        seenDocType = true;
        continue;
      }
      if (lexer.Peek() == '?') {
        if (seenDeclaration || seenDocType || !lexer.SkipXmlDeclaration()) return false;
        seenDeclaration = true;
        continue;
      }
      if (!lexer.ExpectName(kRootName)) return false;
      lexer.SkipSpace();
      return lexer.Expect('>');
    }
  });
}

bool ParseStartObj(std::istream& in, const std::string& name) {
  return Guarded(in, [&](Lexer& lexer) {
    if (lexer.OpenMarkup() != Lexer::kTag || !lexer.ExpectName(kObjectTag)) return false;
    static const char* const kNames[2] = {"name", "enc"};
    std::string values[2];
    bool seen[2];
    // A longer value cannot match, in either encoding.
    const std::size_t maxBytes[2] = {2 * name.size(), 8};
    if (!lexer.ReadAttributes(kNames, values, seen, maxBytes) || !seen[0]) return false;
    if (!seen[1]) return values[0] == name;
    std::string decoded;
    return values[1] == "hex" && detail::HexDecode(values[0], decoded) && decoded == name;
  });
}

bool ParseValue(std::istream& in, int& value) { return ParseIntegerValue(in, "int", value); }

bool ParseValue(std::istream& in, long& value) { return ParseIntegerValue(in, "long", value); }

bool ParseValue(std::istream& in, unsigned int& value) {
  return ParseIntegerValue(in, "unsigned", value);
}

bool ParseValue(std::istream& in, double& value) {
  return Guarded(in, [&](Lexer& lexer) {
    std::string text;
    return lexer.ReadSimpleValue("double", text) && ParseDouble(text, value);
  });
}

bool ParseValue(std::istream& in, bool& value) {
  return Guarded(in, [&](Lexer& lexer) {
    std::string text;
    return lexer.ReadSimpleValue("bool", text) && ParseBool(text, value);
  });
}

bool ParseValue(std::istream& in, std::string& value) {
  return Guarded(
      in,
      [&](Lexer& lexer) {
        if (lexer.OpenMarkup() != Lexer::kTag || !lexer.ExpectName("string")) return false;
        static const char* const kNames[1] = {"enc"};
        std::string encoding[1];
        bool seen[1];
        const std::size_t maxBytes[1] = {8};
        if (!lexer.ReadAttributes(kNames, encoding, seen, maxBytes)) return false;
        const bool hex = seen[0];
        if (hex && encoding[0] != "hex") return false;
        std::string text;
        if (!lexer.ReadText(text, hex ? 2 * kMaxStringBytes : kMaxStringBytes) ||
            !lexer.CloseTag("string"))
          return false;
        if (!hex) {
          value = std::move(text);
          return true;
        }
        return detail::HexDecode(std::string(Trim(text)), value);
      },
      kStringReadBudget);
}

bool ParseEndObj(std::istream& in) {
  return Guarded(in, [](Lexer& lexer) {
    if (lexer.OpenMarkup() != Lexer::kTag || !lexer.Expect('/') || !lexer.ExpectName(kObjectTag))
      return false;
    lexer.SkipSpace();
    return lexer.Expect('>');
  });
}

bool ParseEndXML(std::istream& in) {
  return Guarded(in, [](Lexer& lexer) {
    if (lexer.OpenMarkup() != Lexer::kTag || !lexer.Expect('/') || !lexer.ExpectName(kRootName))
      return false;
    lexer.SkipSpace();
    return lexer.Expect('>');
  });
}

}  // namespace VXXML_1_2
