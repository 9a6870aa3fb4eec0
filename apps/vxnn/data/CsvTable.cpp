#include "data/CsvTable.h"

#include <csv.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <set>

namespace vxnn {

int CsvTable::Column(const std::string& name) const {
  for (std::size_t i = 0; i < fHeader.size(); ++i)
    if (fHeader[i] == name) return static_cast<int>(i);
  return -1;
}

struct CsvReader::State {
  State(std::istream* in, const std::string& name) : fIn(in), fName(name) {}

  std::istream* fIn;  // null when the text is in memory
  std::string fName;
  csv_parser fParser;
  bool fParserLive = false;
  std::vector<std::string> fHeader;
  bool fHaveHeader = false;
  // The row being parsed; fFields of its strings are in use. The strings
  // keep their storage from row to row.
  std::vector<std::string> fRow;
  std::size_t fFields = 0;
  // Rows completed by the last feed, not yet handed out, with their lines.
  std::vector<std::vector<std::string>> fReady;
  std::vector<long> fReadyLine;
  // Per ready row, its line's text when QuickLine read it, else empty.
  std::vector<std::string_view> fReadyPlain;
  std::string_view fPlain;  // the line QuickLine is reading
  std::string_view fLastPlain;
  std::size_t fReadyCount = 0, fReadPos = 0;
  long fLine = 1;  // line where the current row started
  long fNewlines = 0;
  long fLastLine = 0;
  std::string fError;
  bool fFinished = false;
  std::vector<char> fBuf;
  // The text being parsed: fBuf filled from the stream, or the caller's
  // memory, handed over whole on the first feed.
  const char* fData = nullptr;
  std::size_t fMemLen = 0;
  bool fMemGiven = false;
  std::size_t fBufLen = 0, fBufPos = 0;

  void Fail(const std::string& what) {
    if (fError.empty()) fError = fName + ": " + what;
  }
  void Throw() const { throw InputError(fError); }
  // The parser is freed with the state, so a constructor that throws after
  // starting it (a malformed header, an empty file) leaks nothing.
  ~State() {
    if (fParserLive) csv_free(&fParser);
  }
  // Whether lines may be read without the parser (a piece's reader), when
  // the parser stands at the start of a row: at the start of the piece,
  // and after a line feed that follows an even number of quotes. The
  // parser in its strict mode takes a quote only to open or close a
  // quoted field or, doubled, inside one, and stops at any other, so an
  // even count means no quoted field is open, and the line feed ended the
  // row.
  bool fQuick = false;
  bool fOddQuotes = false;
  // Parses input until at least one row is complete or the input ends.
  void Feed();
  // A line (without its line feed) that holds neither quotes nor blanks
  // nor carriage returns, but for one at its end, read as the parser
  // reads it: a row of the texts between its commas, or nothing when it
  // is empty. False, with nothing read, for any other line.
  bool QuickLine(const char* line, std::size_t size);
};

namespace {

void OnField(void* data, std::size_t len, void* ctx) {
  auto* st = static_cast<CsvReader::State*>(ctx);
  const char* text = data ? static_cast<const char*>(data) : "";
  if (!data) len = 0;
  if (st->fFields < st->fRow.size())
    st->fRow[st->fFields].assign(text, len);
  else
    st->fRow.emplace_back(text, len);
  ++st->fFields;
}

void OnRow(int, void* ctx) {
  auto* st = static_cast<CsvReader::State*>(ctx);
  const std::size_t n = st->fFields;
  st->fFields = 0;
  const long line = st->fLine;
  st->fLine = st->fNewlines + 2;  // this row ended on line fNewlines + 1
  if (!st->fError.empty()) return;
  // Blank lines never get here (the parser skips them). A line holding only
  // "" does: it is a row of one empty field, a missing value in a file of
  // one column and a short row otherwise, never a line to pass over.
  st->fRow.resize(n);
  if (!st->fHaveHeader) {
    std::set<std::string> seen;
    for (const std::string& name : st->fRow) {
      if (name.empty())
        return st->Fail("line " + std::to_string(line) + ": the header has an empty column name");
      if (!seen.insert(name).second)
        return st->Fail("line " + std::to_string(line) + ": column \"" + name +
                        "\" appears twice in the header");
    }
    st->fHeader = st->fRow;
    st->fHaveHeader = true;
    return;
  }
  if (n != st->fHeader.size())
    return st->Fail("line " + std::to_string(line) + ": " + std::to_string(n) +
                    " fields where the header has " + std::to_string(st->fHeader.size()));
  if (st->fReadyCount == st->fReady.size()) {
    st->fReady.emplace_back();
    st->fReadyLine.push_back(0);
    st->fReadyPlain.emplace_back();
  }
  st->fReady[st->fReadyCount].swap(st->fRow);
  st->fReadyLine[st->fReadyCount] = line;
  st->fReadyPlain[st->fReadyCount] = st->fPlain;
  ++st->fReadyCount;
}

}  // namespace

bool CsvReader::State::QuickLine(const char* line, std::size_t size) {
  if (size > 0 && line[size - 1] == '\r') --size;
  for (std::size_t i = 0; i < size; ++i) {
    const char c = line[i];
    if (c == '"' || c == ' ' || c == '\t' || c == '\r') return false;
  }
  if (size == 0) return true;  // a blank line, which the parser skips
  const char* end = line + size;
  for (const char* field = line;;) {
    const auto* comma = static_cast<const char*>(std::memchr(field, ',', end - field));
    const char* stop = comma ? comma : end;
    OnField(const_cast<char*>(field), static_cast<std::size_t>(stop - field), this);
    if (!comma) break;
    field = comma + 1;
  }
  fPlain = std::string_view(line, size);
  OnRow('\n', this);
  fPlain = {};
  return true;
}

void CsvReader::State::Feed() {
  while (fReadyCount == 0 && !fFinished && fError.empty()) {
    if (fBufPos == fBufLen) {
      fBufPos = fBufLen = 0;
      if (!fIn) {
        if (!fMemGiven) fBufLen = fMemLen;
        fMemGiven = true;
      } else if (*fIn) {
        fIn->read(fBuf.data(), static_cast<std::streamsize>(fBuf.size()));
        fBufLen = static_cast<std::size_t>(fIn->gcount());
      }
      if (fBufLen == 0) {
        fFinished = true;
        if (csv_fini(&fParser, OnField, OnRow, this) != 0)
          Fail("malformed CSV near line " + std::to_string(fNewlines + 1) + " (" +
               csv_strerror(csv_error(&fParser)) + ")");
        break;
      }
    }
    // Fed one line at a time so that the line count is exact whenever the
    // parser ends a row, for messages that name the line.
    const char* buf = fData;
    const auto* nl = static_cast<const char*>(std::memchr(buf + fBufPos, '\n', fBufLen - fBufPos));
    const std::size_t end = nl ? static_cast<std::size_t>(nl - buf) + 1 : fBufLen;
    if (fQuick && !fOddQuotes && nl && QuickLine(buf + fBufPos, end - 1 - fBufPos)) {
      ++fNewlines;
      fBufPos = end;
      continue;
    }
    if (std::count(buf + fBufPos, buf + end, '"') % 2 != 0) fOddQuotes = !fOddQuotes;
    if (csv_parse(&fParser, buf + fBufPos, end - fBufPos, OnField, OnRow, this) != end - fBufPos) {
      Fail("malformed CSV near line " + std::to_string(fNewlines + 1) + " (" +
           csv_strerror(csv_error(&fParser)) + ")");
      break;
    }
    if (buf[end - 1] == '\n') ++fNewlines;
    fBufPos = end;
  }
}

namespace {

void StartParser(CsvReader::State& st) {
  if (csv_init(&st.fParser, CSV_STRICT | CSV_STRICT_FINI) != 0)
    throw InputError(st.fName + ": cannot start the CSV reader");
  st.fParserLive = true;
}

}  // namespace

CsvReader::CsvReader(std::istream& in, const std::string& sourceName)
    : fState(std::make_unique<State>(&in, sourceName)) {
  State& st = *fState;
  st.fBuf.resize(1 << 16);
  st.fData = st.fBuf.data();
  StartParser(st);
  ReadHeader();
}

CsvReader::CsvReader(const char* text, std::size_t size, const std::string& sourceName)
    : fState(std::make_unique<State>(nullptr, sourceName)) {
  State& st = *fState;
  st.fData = text;
  st.fMemLen = size;
  StartParser(st);
  ReadHeader();
}

CsvReader::CsvReader(const char* text, std::size_t size, const std::string& sourceName,
                     const std::vector<std::string>& header, long firstLine)
    : fState(std::make_unique<State>(nullptr, sourceName)) {
  State& st = *fState;
  st.fData = text;
  st.fMemLen = size;
  st.fHeader = header;
  st.fHaveHeader = true;
  // As if the lines above had been read: the parser met the end of a row
  // on the line before, so the next row begins on firstLine.
  st.fLine = firstLine;
  st.fNewlines = firstLine - 1;
  st.fQuick = true;
  StartParser(st);
}

void CsvReader::ReadHeader() {
  State& st = *fState;
  while (!st.fHaveHeader && !st.fFinished && st.fError.empty()) st.Feed();
  if (!st.fError.empty()) st.Throw();
  if (!st.fHaveHeader) throw InputError(st.fName + ": the file is empty (no header row)");
}

CsvReader::~CsvReader() = default;

const std::vector<std::string>& CsvReader::Header() const { return fState->fHeader; }

long CsvReader::Line() const { return fState->fLastLine; }

std::string_view CsvReader::PlainText() const { return fState->fLastPlain; }

const std::vector<std::string>* CsvReader::Next() {
  State& st = *fState;
  if (st.fReadPos == st.fReadyCount) {
    st.fReadPos = st.fReadyCount = 0;
    st.Feed();
  }
  // A row that completed before an error is still handed out, so the
  // error surfaces at the row that caused it.
  if (st.fReadPos < st.fReadyCount) {
    st.fLastLine = st.fReadyLine[st.fReadPos];
    st.fLastPlain = st.fReadyPlain[st.fReadPos];
    return &st.fReady[st.fReadPos++];
  }
  if (!st.fError.empty()) st.Throw();
  return nullptr;
}

CsvTable ReadCsv(std::istream& in, const std::string& sourceName) {
  CsvReader reader(in, sourceName);
  CsvTable table;
  table.fHeader = reader.Header();
  while (const std::vector<std::string>* row = reader.Next()) table.fRows.push_back(*row);
  return table;
}

CsvTable ReadCsvFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw InputError(path + ": cannot open the file");
  return ReadCsv(in, path);
}

void AppendCsvField(std::string& out, const std::string& f, bool sole) {
  // The reader trims unquoted fields of spaces and tabs, so a field that
  // begins or ends with either is quoted too; and it skips blank lines, so
  // a row of one empty field is written as "".
  const auto blank = [](char c) { return c == ' ' || c == '\t'; };
  bool quote = (!f.empty() && (blank(f.front()) || blank(f.back()))) || (f.empty() && sole);
  for (std::size_t i = 0; i < f.size() && !quote; ++i) {
    const char c = f[i];
    quote = c == ',' || c == '"' || c == '\r' || c == '\n';
  }
  if (!quote) {
    out += f;
    return;
  }
  out += '"';
  for (const char c : f) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
}

void WriteCsvRow(std::ostream& out, const std::vector<std::string>& fields) {
  std::string line;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i) line += ',';
    AppendCsvField(line, fields[i], fields.size() == 1);
  }
  line += '\n';
  out << line;
}

}  // namespace vxnn
