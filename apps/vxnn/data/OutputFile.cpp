#include "data/OutputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>

#include "cli/Console.h"
#include "data/CsvTable.h"

namespace vxnn {

namespace fs = std::filesystem;

namespace {

// Where a chain of symbolic links leads: the kernel gives up after 40.
constexpr int kMaxLinks = 40;

struct Resolved {
  std::string fTarget;
  fs::file_type fType = fs::file_type::not_found;
  fs::perms fPerms = fs::perms::none;
};

// The file that writing to path finally reaches, following its links one
// by one (a relative link is read from the link's own folder). A dangling
// link resolves to the path it names, not found.
Resolved Resolve(const std::string& path, const std::string& failure) {
  // What the whole chain ends at, first: a link the kernel resolves by
  // itself (/dev/stdout, /proc/self/fd/N) may name a pipe or a terminal
  // that no path spells, and such a file is written through its own name.
  std::error_code followed;
  const fs::file_status end = fs::status(path, followed);
  if (!followed && end.type() != fs::file_type::regular && end.type() != fs::file_type::directory &&
      end.type() != fs::file_type::not_found)
    return {path, end.type()};
  fs::path target = path;
  for (int hops = 0;; ++hops) {
    std::error_code ec;
    const fs::file_status status = fs::symlink_status(target, ec);
    if (status.type() == fs::file_type::not_found) return {target.string(), status.type()};
    if (ec) throw InputError(path + ": " + failure + " (" + ec.message() + ")");
    if (status.type() != fs::file_type::symlink)
      return {target.string(), status.type(), status.permissions()};
    if (hops == kMaxLinks) throw InputError(path + ": too many levels of symbolic links");
    const fs::path link = fs::read_symlink(target, ec);
    if (ec) throw InputError(path + ": " + failure + " (" + ec.message() + ")");
    target = link.is_absolute() ? link : target.parent_path() / link;
  }
}

[[noreturn]] void DirectoryError(const std::string& path) {
  throw InputError(path + ": is a directory; give a file name");
}

// A new file beside target that no other run uses, created with the
// permissions a new file gets (0666 less the umask) or, replacing a file,
// that file's own. Its path; empty when none could be created.
std::string CreatePartial(const std::string& target, const Resolved& r) {
  static unsigned serial = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string name =
        target + ".partial-" + std::to_string(getpid()) + "-" + std::to_string(serial++);
    const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return {};
    }
    if (r.fType == fs::file_type::regular)
      (void)fchmod(fd, static_cast<mode_t>(r.fPerms & fs::perms::mask));
    close(fd);
    return name;
  }
  return {};
}

}  // namespace

void CheckOutputPaths(const std::vector<std::pair<std::string, std::string>>& outputs) {
  const std::string* standard = nullptr;
  for (const auto& [option, path] : outputs) {
    if (path.empty()) continue;
    if (IsStandardOutput(path)) {
      if (standard)
        throw InputError(*standard + " and " + option +
                         " both write to standard output (-); give one of them a file");
      standard = &option;
      continue;
    }
    if (Resolve(path, "cannot be written").fType == fs::file_type::directory) DirectoryError(path);
  }
}

OutputFile::OutputFile(const std::string& path, std::ostream& standardOutput,
                       const std::string& failure)
    : fPath(path), fFailure(failure), fStandardOutput(&standardOutput) {
  if (IsStandardOutput(path)) return;
  const Resolved r = Resolve(path, failure);
  fTarget = r.fTarget;
  if (r.fType == fs::file_type::directory) DirectoryError(path);
  if (r.fType == fs::file_type::not_found || r.fType == fs::file_type::regular) {
    // Installed before the temporary file exists, so that no Ctrl-C can
    // leave it behind.
    fGuard = std::make_unique<InterruptGuard>();
    fPartial = CreatePartial(fTarget, r);
    if (fPartial.empty()) Fail();
    fFile.open(fPartial, std::ios::binary | std::ios::trunc);
  } else {
    fFile.open(fTarget, std::ios::binary);
  }
  if (!fFile.is_open()) Fail();
}

OutputFile::~OutputFile() {
  if (fCommitted || fPartial.empty()) return;
  fFile.close();
  std::remove(fPartial.c_str());
}

void OutputFile::Fail() {
  if (!fPartial.empty()) {
    fFile.close();
    std::remove(fPartial.c_str());
    fPartial.clear();
  }
  throw InputError((IsStandardOutput(fPath) ? std::string("standard output") : fPath) + ": " +
                   fFailure);
}

void OutputFile::Commit() {
  std::ostream& out = Stream();
  out.flush();
  if (!out) Fail();
  if (fFile.is_open()) {
    fFile.close();
    if (fFile.fail()) Fail();
  }
  if (!fPartial.empty()) {
    if (InterruptCancel::Interrupted()) {
      std::remove(fPartial.c_str());
      fPartial.clear();
      throw Interrupted("interrupted");
    }
    if (std::rename(fPartial.c_str(), fTarget.c_str()) != 0) Fail();
  }
  fCommitted = true;
}

void WriteOutput(const std::string& path, const std::string& text, std::ostream& standardOutput,
                 const std::string& failure) {
  OutputFile file(path, standardOutput, failure);
  file.Stream() << text;
  file.Commit();
}

}  // namespace vxnn
