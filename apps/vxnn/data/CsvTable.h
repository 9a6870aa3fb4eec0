// A CSV file with a header row, read whole (RFC 4180: quoted fields,
// embedded commas, quotes and line breaks).
#pragma once

#include <istream>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace vxnn {

// One line of text that says what is wrong with the input.
class InputError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct CsvTable {
  std::vector<std::string> fHeader;
  // Every row has as many cells as the header.
  std::vector<std::vector<std::string>> fRows;

  // Index of a column by exact name, -1 when absent.
  int Column(const std::string& name) const;
};

// Reads a CSV stream one row at a time, so a file of any size passes
// through a fixed amount of memory: the row handed out is reused for the
// next one. The header is read by the constructor.
class CsvReader {
 public:
  // Throws InputError as ReadCsv does.
  CsvReader(std::istream& in, const std::string& sourceName);
  // The same over text in memory, which must outlive the reader.
  CsvReader(const char* text, std::size_t size, const std::string& sourceName);
  // The rows of a piece of a file cut where a row ends (see CsvChunker),
  // read as the rows of the whole file would be: under header, the first
  // row's line counted as firstLine, with the same errors and lines.
  CsvReader(const char* text, std::size_t size, const std::string& sourceName,
            const std::vector<std::string>& header, long firstLine);
  ~CsvReader();
  CsvReader(const CsvReader&) = delete;
  CsvReader& operator=(const CsvReader&) = delete;

  const std::vector<std::string>& Header() const;
  // The next row, valid until the next call; null after the last row.
  // Throws InputError as ReadCsv does.
  const std::vector<std::string>* Next();
  // The line where the row last handed out began.
  long Line() const;
  // The text of the row last handed out, when it stood on a line of its
  // own without quotes, blanks or carriage returns (but for one at the
  // end, not included): the row as WriteCsvRow writes it back. Empty for
  // any other row. Valid while the reader's text is.
  std::string_view PlainText() const;

  // The parser's state, public only for its call-backs.
  struct State;

 private:
  void ReadHeader();

  std::unique_ptr<State> fState;
};

// Throws InputError naming the source and the line for: an empty input, an
// empty or duplicated column name, a row with another number of fields than
// the header, an unterminated quoted field, or bytes that break the quoting.
CsvTable ReadCsv(std::istream& in, const std::string& sourceName);
CsvTable ReadCsvFile(const std::string& path);

// One row in RFC 4180 form, ended by a line feed: a field holding a comma,
// a quote, a line break or leading or trailing spaces or tabs is quoted, with its
// quotes doubled.
void WriteCsvRow(std::ostream& out, const std::vector<std::string>& fields);
// One field of such a row appended to out, quoted as WriteCsvRow quotes it;
// sole tells a row of that one field. The caller writes the commas.
void AppendCsvField(std::string& out, const std::string& field, bool sole);

}  // namespace vxnn
