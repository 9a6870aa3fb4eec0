// Every file vxnn writes goes through OutputFile, so that what a path is
// decides how it is written, the same way for every command:
//
// - "-": standard output (the command's out stream).
// - A regular file, or a path that does not exist yet: a temporary file
//   beside it, renamed into place by Commit, so that the path holds either
//   its old content or the whole new one. Until Commit, Ctrl-C only raises
//   the interrupt flag, and Commit then refuses; the temporary file is
//   removed whenever Commit does not complete.
// - A symbolic link, or a chain of them: the same for the file the chain
//   ends at, with the temporary file beside that file, so that the link
//   stays a link. A dangling link gets the file it names created, as a
//   shell redirection through it would.
// - Any other existing file (a character or block device, a FIFO, a
//   socket), also at the end of links (/dev/stdout on a pipe): opened and
//   written straight through. Renaming over it would put a regular file in
//   place of the device, and a reader waiting on a FIFO would never see the
//   bytes.
// - A directory: refused.
#pragma once

#include <fstream>
#include <memory>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace vxnn {

class InterruptGuard;

// The paths that name standard output: "-", and the names the system gives
// the process's own descriptor 1. Written through the open descriptor, not
// reopened by name, so that a shell's redirection keeps its meaning (an
// append stays an append, a file is not replaced under it).
inline bool IsStandardOutput(const std::string& path) {
  return path == "-" || path == "/dev/stdout" || path == "/dev/fd/1" || path == "/proc/self/fd/1";
}

// The output paths of one command, each with the option that gave it
// ("--model", "-o"); empty paths are not written and ignored. Throws
// InputError when two of them are "-" (their bytes would interleave) or one
// is a directory, so that a long run is refused before it starts.
void CheckOutputPaths(const std::vector<std::pair<std::string, std::string>>& outputs);

class OutputFile {
 public:
  // Opens path as above. failure is the text of the InputError thrown when
  // it cannot be opened or written: "<path>: <failure>".
  OutputFile(const std::string& path, std::ostream& standardOutput, const std::string& failure);
  // Removes the temporary file unless Commit completed.
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  std::ostream& Stream() { return fFile.is_open() ? fFile : *fStandardOutput; }
  // Flushes and, for a regular file, renames the temporary file into
  // place. Throws InputError when a write failed, Interrupted after Ctrl-C.
  void Commit();

 private:
  // Removes the temporary file and throws the InputError.
  [[noreturn]] void Fail();

  std::string fPath;     // as given
  std::string fTarget;   // the file finally written: fPath or where its links lead
  std::string fPartial;  // the temporary file; empty when written through
  std::string fFailure;
  std::ostream* fStandardOutput = nullptr;
  std::ofstream fFile;
  std::unique_ptr<InterruptGuard> fGuard;
  bool fCommitted = false;
};

// The whole text to path, as OutputFile writes it.
void WriteOutput(const std::string& path, const std::string& text, std::ostream& standardOutput,
                 const std::string& failure);

}  // namespace vxnn
