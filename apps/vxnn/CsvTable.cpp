#include "CsvTable.h"

#include <csv.h>

#include <fstream>
#include <set>

namespace vxnn {

int CsvTable::Column(const std::string& name) const {
  for (std::size_t i = 0; i < fHeader.size(); ++i)
    if (fHeader[i] == name) return static_cast<int>(i);
  return -1;
}

namespace {

struct ParseState {
  CsvTable* fTable;
  std::vector<std::string> fRow;
  bool fHaveHeader = false;
  long fLine = 1;  // line where the current row started
  long fNewlines = 0;
  std::string fError;
};

void OnField(void* data, std::size_t len, void* ctx) {
  auto* st = static_cast<ParseState*>(ctx);
  st->fRow.emplace_back(data ? static_cast<const char*>(data) : "", data ? len : 0);
}

void OnRow(int, void* ctx) {
  auto* st = static_cast<ParseState*>(ctx);
  if (!st->fError.empty()) return;
  // A blank line reaches us as a single empty field: skip it, as most CSV
  // writers end files with one.
  const bool blank = st->fRow.size() == 1 && st->fRow[0].empty();
  if (!blank) {
    if (!st->fHaveHeader) {
      std::set<std::string> seen;
      for (const std::string& name : st->fRow) {
        if (name.empty()) {
          st->fError =
              "line " + std::to_string(st->fLine) + ": the header has an empty column name";
          break;
        }
        if (!seen.insert(name).second) {
          st->fError = "line " + std::to_string(st->fLine) + ": column \"" + name +
                       "\" appears twice in the header";
          break;
        }
      }
      st->fTable->fHeader = std::move(st->fRow);
      st->fHaveHeader = true;
    } else if (st->fRow.size() != st->fTable->fHeader.size()) {
      st->fError = "line " + std::to_string(st->fLine) + ": " + std::to_string(st->fRow.size()) +
                   " fields where the header has " + std::to_string(st->fTable->fHeader.size());
    } else {
      st->fTable->fRows.push_back(std::move(st->fRow));
    }
  }
  st->fRow.clear();
  st->fLine = st->fNewlines + 2;  // this row ended on line fNewlines + 1
}

}  // namespace

CsvTable ReadCsv(std::istream& in, const std::string& sourceName) {
  CsvTable table;
  ParseState st;
  st.fTable = &table;
  csv_parser parser;
  if (csv_init(&parser, CSV_STRICT | CSV_STRICT_FINI) != 0)
    throw InputError(sourceName + ": cannot start the CSV reader");

  char buf[1 << 16];
  bool failed = false;
  while (!failed && in) {
    in.read(buf, sizeof buf);
    const std::size_t n = static_cast<std::size_t>(in.gcount());
    // Fed one line at a time so that the line count is exact whenever the
    // parser ends a row, for messages that name the line.
    std::size_t done = 0;
    while (done < n) {
      std::size_t end = done;
      while (end < n && buf[end] != '\n') ++end;
      if (end < n) ++end;
      if (csv_parse(&parser, buf + done, end - done, OnField, OnRow, &st) != end - done) {
        failed = true;
        break;
      }
      if (buf[end - 1] == '\n') ++st.fNewlines;
      done = end;
      if (!st.fError.empty()) break;
    }
    if (!st.fError.empty()) break;
  }
  if (!failed && st.fError.empty() && csv_fini(&parser, OnField, OnRow, &st) != 0) failed = true;
  const std::string parseError = failed ? csv_strerror(csv_error(&parser)) : "";
  csv_free(&parser);

  if (!st.fError.empty()) throw InputError(sourceName + ": " + st.fError);
  if (failed)
    throw InputError(sourceName + ": malformed CSV near line " + std::to_string(st.fNewlines + 1) +
                     " (" + parseError + ")");
  if (!st.fHaveHeader) throw InputError(sourceName + ": the file is empty (no header row)");
  return table;
}

CsvTable ReadCsvFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw InputError(path + ": cannot open the file");
  return ReadCsv(in, path);
}

void WriteCsvRow(std::ostream& out, const std::vector<std::string>& fields) {
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i) out << ',';
    const std::string& f = fields[i];
    const bool quote = f.find_first_of(",\"\r\n") != std::string::npos ||
                       (!f.empty() && (f.front() == ' ' || f.back() == ' '));
    if (!quote) {
      out << f;
      continue;
    }
    out << '"';
    for (const char c : f) {
      if (c == '"') out << '"';
      out << c;
    }
    out << '"';
  }
  out << '\n';
}

}  // namespace vxnn
