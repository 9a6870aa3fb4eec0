#include "data/CsvChunks.h"

#include <algorithm>
#include <cstring>

namespace vxnn {

namespace {

// Where the scan stands in a row, as far as quoting goes: at the start of
// a field (leading blanks are skipped there, so a quote after them still
// opens a quoted field), in an unquoted field, in a quoted one, or just
// after a quote inside a quoted field (the end of the field, or the first
// of a doubled quote).
enum class At { kFieldStart, kUnquoted, kQuoted, kQuoteInQuoted };

constexpr std::size_t kBlockBytes = 1 << 18;

bool Blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

}  // namespace

bool CsvChunker::Fill() {
  if (!fIn) return false;
  const std::size_t had = fPending.size();
  fPending.resize(had + kBlockBytes);
  fIn.read(&fPending[had], static_cast<std::streamsize>(kBlockBytes));
  const auto got = static_cast<std::size_t>(fIn.gcount());
  fPending.resize(had + got);
  return got > 0;
}

bool CsvChunker::Next(std::size_t rows, std::string& text, long& firstLine) {
  At at = At::kFieldStart;
  bool content = false;  // the current line holds more than blanks
  std::size_t pos = 0, counted = 0, cut = 0;
  while (counted < rows) {
    const std::size_t n = fPending.size();
    while (pos < n && counted < rows) {
      const char* data = fPending.data();
      if (at == At::kFieldStart && !content) {
        // At the start of a line outside quotes. Most lines hold no quote:
        // such a line ends a row at its line feed, if it holds anything.
        const auto* nl = static_cast<const char*>(std::memchr(data + pos, '\n', n - pos));
        if (nl == nullptr) break;  // the line goes on in the next block
        const std::size_t end = static_cast<std::size_t>(nl - data);
        if (std::memchr(data + pos, '"', end - pos) == nullptr) {
          if (std::any_of(data + pos, nl, [](char c) { return !Blank(c); })) {
            ++counted;
            cut = end + 1;
          }
          pos = end + 1;
          continue;
        }
      }
      const char c = data[pos++];
      const bool ends = c == ',' || c == '\n' || c == '\r';
      switch (at) {
        case At::kFieldStart:
          at = c == '"'                          ? At::kQuoted
               : (ends || c == ' ' || c == '\t') ? At::kFieldStart
                                                 : At::kUnquoted;
          break;
        case At::kUnquoted:
          if (ends) at = At::kFieldStart;
          break;
        case At::kQuoted:
          if (c == '"') at = At::kQuoteInQuoted;
          break;
        case At::kQuoteInQuoted:
          at = c == '"'                  ? At::kQuoted
               : ends                    ? At::kFieldStart
               : (c == ' ' || c == '\t') ? At::kQuoteInQuoted
                                         : At::kUnquoted;
          break;
      }
      if (c == '\n' && at == At::kFieldStart) {
        if (content) {
          ++counted;
          cut = pos;
        }
        content = false;
      } else if (!Blank(c) && c != '\n') {
        content = true;
      }
    }
    if (counted == rows) break;
    if (!Fill()) {
      if (fPending.empty()) return false;
      cut = fPending.size();
      break;
    }
  }
  text.assign(fPending, 0, cut);
  fPending.erase(0, cut);
  firstLine = fLine;
  fLine += static_cast<long>(std::count(text.begin(), text.end(), '\n'));
  return true;
}

}  // namespace vxnn
