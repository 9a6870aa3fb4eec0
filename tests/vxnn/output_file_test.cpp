// Where vxnn's outputs land: a regular file is replaced whole by a rename, a
// symbolic link (or a chain of them) keeps being a link and its final file
// gets the bytes, a FIFO or a device is written through and stays what it
// was, "-" is standard output. First through the one helper every command
// uses, then through each command's output options.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "TestHost.h"
#include "data/OutputFile.h"
#include "model/ModelFile.h"

namespace fs = std::filesystem;

namespace {

using testhost::Slurp;
using testhost::Spit;
using testing::HasSubstr;
using testing::StartsWith;

enum class Kind { kNew, kRegular, kLink, kChain, kDangling, kFifo, kDevice, kStdout };

const char* Name(Kind k) {
  static const char* const names[] = {"new file",      "regular file", "link",   "chain of links",
                                      "dangling link", "FIFO",         "device", "standard output"};
  return names[static_cast<int>(k)];
}

// Reads a FIFO to its end on a thread of its own, as another process would.
// It opens the FIFO through a second name (a hard link), so that a writer
// that wrongly replaces the first name cannot leave it waiting for ever.
class FifoReader {
 public:
  explicit FifoReader(const std::string& path) : fKeep(path + ".keep") {
    EXPECT_EQ(link(path.c_str(), fKeep.c_str()), 0);
    fThread = std::thread([this] {
      const int fd = open(fKeep.c_str(), O_RDONLY);
      if (fd < 0) {
        fDone = true;
        return;
      }
      char buf[4096];
      for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;)
        fBytes.append(buf, static_cast<std::size_t>(n));
      close(fd);
      fDone = true;
    });
  }
  // A test that stopped early still ends the thread.
  ~FifoReader() {
    if (fThread.joinable()) Finish();
  }
  FifoReader(const FifoReader&) = delete;
  FifoReader& operator=(const FifoReader&) = delete;

  // The bytes read. A writer that never came is stood in for (once the
  // thread waits for one), so that the reader ends.
  std::string Finish() {
    while (!fDone) {
      const int fd = open(fKeep.c_str(), O_WRONLY | O_NONBLOCK);
      if (fd >= 0) {
        close(fd);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    fThread.join();
    unlink(fKeep.c_str());
    return fBytes;
  }

 private:
  std::string fKeep, fBytes;
  std::atomic<bool> fDone{false};
  std::thread fThread;
};

// One output path of a kind, made in dir, and what it must be afterwards.
class Target {
 public:
  Target(const fs::path& dir, Kind kind) : fDir(dir), fKind(kind) {
    fs::create_directories(dir / "sub");
    switch (kind) {
      case Kind::kNew:
        fPath = fFinal = dir / "new.out";
        break;
      case Kind::kRegular:
        fPath = fFinal = dir / "old.out";
        Spit(fFinal, "old content\n");
        fs::permissions(fFinal, fs::perms(0640));
        fInode = Inode(fFinal);
        break;
      case Kind::kLink:
        fFinal = dir / "file.out";
        Spit(fFinal, "old content\n");
        fs::create_symlink("file.out", fPath = dir / "link.out");
        break;
      case Kind::kChain:
        // The inner link is relative to its own folder, not to the outer
        // link's nor to the working directory.
        fFinal = dir / "sub" / "file.out";
        Spit(fFinal, "old content\n");
        fs::create_symlink("file.out", dir / "sub" / "inner.out");
        fs::create_symlink("sub/inner.out", fPath = dir / "outer.out");
        break;
      case Kind::kDangling:
        fFinal = dir / "sub" / "named.out";
        fs::create_symlink("sub/named.out", fPath = dir / "dangling.out");
        break;
      case Kind::kFifo:
        fPath = fFinal = dir / "fifo.out";
        EXPECT_EQ(mkfifo(fPath.c_str(), 0600), 0);
        fReader = std::make_unique<FifoReader>(fPath);
        break;
      case Kind::kDevice:
        // A null device of the test's own: never the system's, which a
        // regression would replace.
        fPath = fFinal = dir / "null.out";
        if (geteuid() == 0) fMade = mknod(fPath.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
        break;
      case Kind::kStdout:
        break;
    }
  }
  // Root only (mknod); skipped elsewhere.
  bool Usable() const { return fKind != Kind::kDevice || fMade; }
  std::string Path() const { return fKind == Kind::kStdout ? "-" : fPath.string(); }

  // The bytes that landed: read from the FIFO, the file the path finally
  // names, or (for "-") what the command wrote to standard output. Nothing
  // for the device.
  std::string Landed(const std::string& standardOutput) {
    if (fKind == Kind::kStdout) return standardOutput;
    if (fReader) return fReader->Finish();
    return fKind == Kind::kDevice ? std::string() : Slurp(fFinal);
  }
  // The path is still of its kind and nothing is left beside it; replaced:
  // a regular file was written.
  void CheckKind(bool replaced = true) const {
    SCOPED_TRACE(Name(fKind));
    if (fKind == Kind::kStdout) return;
    const fs::file_type type = fs::symlink_status(fPath).type();
    switch (fKind) {
      case Kind::kFifo:
        EXPECT_EQ(type, fs::file_type::fifo);
        break;
      case Kind::kDevice:
        EXPECT_EQ(type, fs::file_type::character);
        break;
      case Kind::kLink:
      case Kind::kChain:
      case Kind::kDangling:
        EXPECT_EQ(type, fs::file_type::symlink);
        if (fKind == Kind::kChain) {
          EXPECT_TRUE(fs::is_symlink(fs::symlink_status(fDir / "sub" / "inner.out")));
        }
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(fFinal)));
        break;
      default:
        EXPECT_EQ(type, fs::file_type::regular);
    }
    if (fKind == Kind::kRegular && replaced) {
      // Replaced by a new file renamed into place, with the old one's
      // permissions, not rewritten in place.
      EXPECT_NE(Inode(fFinal), fInode);
      EXPECT_EQ(fs::status(fFinal).permissions(), fs::perms(0640));
    }
    for (const fs::path& d : {fDir, fDir / "sub"})
      for (const auto& entry : fs::directory_iterator(d))
        EXPECT_EQ(entry.path().string().find(".partial"), std::string::npos) << entry.path();
  }
  // After text was written to the path, with what the command wrote to
  // standard output.
  void Check(const std::string& text, const std::string& standardOutput, bool replaced = true) {
    SCOPED_TRACE(Name(fKind));
    if (fKind != Kind::kDevice) {
      EXPECT_EQ(Landed(standardOutput), text);
    }
    if (fKind != Kind::kStdout) {
      EXPECT_EQ(standardOutput, "");
    }
    CheckKind(replaced);
  }

 private:
  static ino_t Inode(const fs::path& p) {
    struct stat st {};
    return stat(p.c_str(), &st) == 0 ? st.st_ino : 0;
  }
  fs::path fDir, fPath, fFinal;
  Kind fKind;
  ino_t fInode = 0;
  bool fMade = false;
  std::unique_ptr<FifoReader> fReader;
};

const Kind kKinds[] = {Kind::kNew,      Kind::kRegular, Kind::kLink,   Kind::kChain,
                       Kind::kDangling, Kind::kFifo,    Kind::kDevice, Kind::kStdout};

TEST(OutputFile, EachKindOfPathIsWrittenAsItsKindRequires) {
  // Larger than a pipe's buffer, so that the FIFO is written while read.
  std::string text;
  for (int i = 0; text.size() < 200000; ++i) text += "line " + std::to_string(i) + ",\"x\"\r\n";
  for (const Kind kind : kKinds) {
    testhost::Scratch scratch;
    Target target(scratch.fDir, kind);
    if (!target.Usable()) continue;
    std::ostringstream out;
    vxnn::WriteOutput(target.Path(), text, out, "cannot write");
    target.Check(text, out.str());
  }
}

// A link the kernel resolves by itself, such as /dev/stdout, may end at a
// pipe no path names: it is written through as the pipe it is.
TEST(OutputFile, AKernelLinkToAPipeIsWrittenThrough) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  std::string read;
  std::thread reader([&] {
    char buf[4096];
    for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;)
      read.append(buf, static_cast<std::size_t>(n));
  });
  std::ostringstream out;
  const std::string text(100000, 'x');
  EXPECT_NO_THROW(
      vxnn::WriteOutput("/proc/self/fd/" + std::to_string(fds[1]), text, out, "cannot write"));
  close(fds[1]);
  reader.join();
  close(fds[0]);
  EXPECT_EQ(read, text);
  // The names of the process's own standard output are standard output
  // itself: written through the stream, never reopened (a shell's append
  // redirection would be truncated) nor replaced by a rename.
  for (const char* name : {"/dev/stdout", "/dev/fd/1", "/proc/self/fd/1"}) {
    std::ostringstream standard;
    EXPECT_NO_THROW(vxnn::WriteOutput(name, "through the stream\n", standard, "cannot write"));
    EXPECT_EQ(standard.str(), "through the stream\n") << name;
  }
}

// A write that does not reach Commit leaves the file, or the file a link
// points to, as it was, and nothing beside it.
TEST(OutputFile, AnUnfinishedWriteLeavesTheOldFile) {
  for (const Kind kind : {Kind::kRegular, Kind::kLink, Kind::kChain, Kind::kNew}) {
    testhost::Scratch scratch;
    Target target(scratch.fDir, kind);
    std::ostringstream out;
    { vxnn::OutputFile(target.Path(), out, "cannot write").Stream() << "half"; }
    if (kind == Kind::kNew)
      EXPECT_FALSE(fs::exists(target.Path()));
    else
      target.Check("old content\n", "", false);
  }
}

TEST(OutputFile, DirectoriesAndTwoStandardOutputsAreRefused) {
  testhost::Scratch scratch;
  fs::create_symlink(".", scratch / "here");
  const std::string dir = scratch.fDir.string(), here = scratch / "here";
  using Outputs = std::vector<std::pair<std::string, std::string>>;
  const std::pair<Outputs, std::string> cases[] = {
      {{{"--pmml", "-"}, {"--stats", "-"}},
       "--pmml and --stats both write to standard output (-); give one of them a file"},
      {{{"-o", dir}}, dir + ": is a directory; give a file name"},
      {{{"-o", here}}, here + ": is a directory; give a file name"},
      {{{"--model", "-"}, {"--report", ""}, {"--summary-json", "-"}},
       "--model and --summary-json both write to standard output (-); give one of them a file"},
      {{{"-o", "/dev/stdout"}, {"--model", "-"}},
       "-o and --model both write to standard output (-); give one of them a file"},
  };
  for (const auto& [outputs, error] : cases)
    EXPECT_THAT([&] { vxnn::CheckOutputPaths(outputs); },
                testing::ThrowsMessage<vxnn::InputError>(error));
  EXPECT_NO_THROW(vxnn::CheckOutputPaths({{"--model", "-"}, {"--report", scratch / "r"}}));
  std::ostringstream out;
  EXPECT_THAT([&] { vxnn::OutputFile(dir, out, "cannot write"); },
              testing::ThrowsMessage<vxnn::InputError>(dir + ": is a directory; give a file name"));
}

// Every output option of every command, to a FIFO, through a link and to
// standard output: the bytes arrive, the path keeps its kind, and
// confirmations go to standard error when standard output holds a file.
TEST(OutputFile, EveryCommandWritesThroughIt) {
  testhost::Scratch scratch;
  ASSERT_EQ(scratch.Run("train data/iris.csv --target species --no-progress --max-data-passes 20 "
                        "--model @m.bin"),
            0);
  const std::string train =
      "train data/iris.csv --target species --no-progress "
      "--max-data-passes 20 ";
  const struct {
    std::string fLine;  // OUT stands for the output path
    const char* fStart;
  } commands[] = {
      {"score @m.bin data/iris.csv -o OUT", "sepal_length,"},
      {train + "--model OUT", "MLPSet"},
      {train + "--model OUT --format xml", "<?xml"},
      {train + "--no-save --summary-json OUT", "{"},
      {train + "--no-save --report OUT", "<!DOCTYPE html>"},
      {"export @m.bin --pmml OUT", "<?xml"},
      {"export @m.bin --pmml @x.pmml --stats OUT", "<?xml"},
      {"report @m.bin data/iris.csv --importance-records 20 -o OUT", "<!DOCTYPE html>"},
  };
  for (const auto& c : commands)
    for (const Kind kind : {Kind::kFifo, Kind::kChain, Kind::kStdout}) {
      SCOPED_TRACE(c.fLine);
      testhost::Scratch dir;
      Target target(dir.fDir, kind);
      std::string line = c.fLine;
      line.replace(line.find("OUT"), 3, target.Path());
      std::string out, err;
      EXPECT_EQ(scratch.Run(line, &out, &err), 0) << err;
      const std::string landed = target.Landed(out);
      EXPECT_THAT(landed, StartsWith(c.fStart));
      target.CheckKind();
      if (kind != Kind::kStdout) continue;
      // Nothing but the file on standard output: a model read back from
      // it, and no confirmation after a document.
      if (line.find("--model -") != std::string::npos) {
        Spit(dir / "piped.model", landed);
        EXPECT_NO_THROW(vxnn::LoadModel(dir / "piped.model"));
      }
      EXPECT_THAT(out, testing::Not(HasSubstr(" written to ")));
    }
}

}  // namespace
