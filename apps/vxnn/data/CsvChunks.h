// A CSV stream cut into pieces of whole rows, so that the pieces can be
// parsed apart, on several threads, and still give the rows, the errors
// and the line numbers that one reader of the whole stream gives.
#pragma once

#include <istream>
#include <string>

namespace vxnn {

class CsvChunker {
 public:
  // in must outlive the chunker.
  explicit CsvChunker(std::istream& in) : fIn(in) {}

  // The next piece into text: the bytes up to and with the line feed of the
  // rows-th line that ends a row outside quotes (a line of more than
  // blanks), or whatever is left when the stream ends first. firstLine is
  // the line the piece begins on, counted from 1. False once nothing is
  // left.
  //
  // A piece ends only where the reader has just ended a row, so a reader
  // started on the piece (CsvReader's piece constructor, with firstLine)
  // sees what it would have seen there reading the whole stream. A stream
  // whose quoting is broken is cut anywhere after the break: the reader
  // stops at the break with the same error either way.
  bool Next(std::size_t rows, std::string& text, long& firstLine);

 private:
  // Appends the next block of the stream to fPending; false at its end.
  bool Fill();

  std::istream& fIn;
  std::string fPending;  // read, not yet handed out; begins a piece
  long fLine = 1;        // the line fPending begins on
};

}  // namespace vxnn
