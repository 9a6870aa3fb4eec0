#!/usr/bin/env python3
"""Runs the code blocks of the documents that are marked as runnable.

A fenced block whose info string is "sh runnable", "python runnable" or
"cpp runnable" is run; any other block is only shown. A block with the
info string "text output" right after a runnable block lists what that
block must print: each of its lines, in order, must be a line of the
block's standard output once surrounding spaces are stripped ("..." lines
stand for anything).

Each document gets one scratch folder, holding a copy of the project's
data/ folder, and its blocks run there in the order they appear, so a
later block may use a file an earlier one wrote:

  sh      bash -e -o pipefail, with the built vxnn first on PATH;
  python  the interpreter running this script, with --python-path first on
          PYTHONPATH; when `import vxneural` fails there, python blocks are
          skipped and the script says so;
  cpp     a whole program, compiled with --cxx against include/ and the
          libraries of --lib-dir, then run.

The first failing block of a document ends that document; the script
prints its file and line and exits 1 once every document is done. A
skipped python block skips the rest of its document too, since later
blocks may need its files.

--only python runs the documents that hold a python block, every block of
them, as one unit (their other blocks may need the package); --only sh or
--only cpp runs that language's blocks of the other documents. When every
block it was asked for was skipped the script exits 77 (CTest's
SKIP_RETURN_CODE).

Plain Python 3 standard library.
"""

import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile

LANGUAGES = ("sh", "python", "cpp")
FENCE = re.compile(r"^(\s*)(```+|~~~+)\s*(.*)$")
SKIPPED = 77


class Block:
    def __init__(self, path, line, info, text):
        self.path, self.line, self.info, self.text = path, line, info, text
        words = info.split()
        self.language = words[0] if words else ""
        self.runnable = "runnable" in words[1:]
        self.is_output = self.language == "text" and "output" in words[1:]
        self.expected = None  # the lines of a following "text output" block

    def where(self):
        return f"{self.path}:{self.line}"


def read_blocks(path, shown):
    """The fenced blocks of a Markdown file, with the line of their fence."""
    blocks, current = [], None
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, start=1):
            m = FENCE.match(line.rstrip("\n"))
            if current is None:
                if m:
                    current = (number, m.group(2), m.group(3).strip(), [])
            elif m and m.group(2).startswith(current[1]) and not m.group(3).strip():
                blocks.append(Block(shown, current[0], current[2], "".join(current[3])))
                current = None
            else:
                current[3].append(line)
    if current is not None:
        raise SystemExit(f"{shown}:{current[0]}: the block is never closed")
    # An output block belongs to the runnable block just before it; one
    # anywhere else would check nothing.
    for i, block in enumerate(blocks):
        if not block.is_output:
            continue
        if i == 0 or not blocks[i - 1].runnable:
            raise SystemExit(f"{block.where()}: an output block must follow a runnable block")
        blocks[i - 1].expected = [t.strip() for t in block.text.splitlines() if t.strip()]
    for block in blocks:
        if block.runnable and block.language not in LANGUAGES:
            raise SystemExit(f"{block.where()}: runnable block of unknown language "
                             f"\"{block.language}\" (one of {', '.join(LANGUAGES)})")
    return blocks


def missing_output(expected, out):
    """The first expected line not found, in order, among the output's
    lines; None when every one is there."""
    lines = [t.strip() for t in out.splitlines()]
    at = 0
    for want in expected:
        if want == "...":
            continue
        while at < len(lines) and lines[at] != want:
            at += 1
        if at == len(lines):
            return want
        at += 1
    return None


class Runner:
    def __init__(self, args):
        self.args = args
        self.env = dict(os.environ)
        program_dir = os.path.dirname(os.path.abspath(args.vxnn))
        self.env["PATH"] = program_dir + os.pathsep + self.env["PATH"]
        # One thread unless the caller says otherwise: the machines that run
        # the tests are shared, and the models are the same for any count.
        self.env.setdefault("VXNN_THREADS", "1")
        if args.python_path:
            first = [os.path.abspath(args.python_path)]
            rest = [self.env["PYTHONPATH"]] if self.env.get("PYTHONPATH") else []
            self.env["PYTHONPATH"] = os.pathsep.join(first + rest)
        self._python_reason = None
        self._python_checked = False

    def python_unavailable(self):
        """Why python blocks cannot run (None when they can)."""
        if not self._python_checked:
            self._python_checked = True
            probe = subprocess.run([sys.executable, "-c", "import vxneural"], env=self.env,
                                   capture_output=True, text=True)
            if probe.returncode != 0:
                last = (probe.stderr.strip().splitlines() or ["no message"])[-1]
                self._python_reason = f"import vxneural failed ({last})"
        return self._python_reason

    def command(self, block, folder):
        if block.language == "sh":
            return ["bash", "-e", "-o", "pipefail", "-c", block.text]
        if block.language == "python":
            return [sys.executable, "-c", block.text]
        source = os.path.join(folder, f"block_{block.line}.cpp")
        program = os.path.join(folder, f"block_{block.line}")
        with open(source, "w", encoding="utf-8") as f:
            f.write(block.text)
        lib = os.path.abspath(self.args.lib_dir)
        build = subprocess.run(
            [self.args.cxx, "-std=c++17", "-I", os.path.join(self.args.root, "include"), source,
             "-o", program, "-L", lib, "-Wl,-rpath," + lib, "-lvxneural", "-lvxcluster",
             "-lvxcommon", "-pthread"], capture_output=True, text=True)
        if build.returncode != 0:
            return build
        return [program]

    def run(self, block, folder):
        """None when the block ran as the document says, else what went wrong."""
        cmd = self.command(block, folder)
        if isinstance(cmd, subprocess.CompletedProcess):
            return f"does not compile:\n{cmd.stderr.strip()}"
        try:
            done = subprocess.run(cmd, cwd=folder, env=self.env, capture_output=True, text=True,
                                  timeout=self.args.timeout)
        except subprocess.TimeoutExpired:
            return f"still running after {self.args.timeout} s"
        if done.returncode != 0:
            tail = "\n".join((done.stdout + done.stderr).strip().splitlines()[-15:])
            return f"exited with code {done.returncode}:\n{tail}"
        if block.expected:
            absent = missing_output(block.expected, done.stdout)
            if absent is not None:
                tail = "\n".join(done.stdout.strip().splitlines()[-15:])
                return (f"printed no line \"{absent}\" (the output block after it shows "
                        f"one):\n{tail}")
        return None


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--root", required=True, help="the project's source folder")
    parser.add_argument("--vxnn", required=True, help="the built vxnn program")
    parser.add_argument("--lib-dir", help="folder of the built libraries (cpp blocks)")
    parser.add_argument("--cxx", default="c++", help="C++ compiler for cpp blocks")
    parser.add_argument("--python-path", help="folder put first on PYTHONPATH (python blocks)")
    parser.add_argument("--only", choices=LANGUAGES,
                        help="python: the documents with python blocks; sh, cpp: those blocks "
                             "of the other documents")
    parser.add_argument("--timeout", type=int, default=300, help="seconds per block")
    parser.add_argument("files", nargs="*",
                        help="Markdown files relative to --root (default README.md docs/*.md)")
    args = parser.parse_args()
    args.root = os.path.abspath(args.root)
    if not os.access(args.vxnn, os.X_OK):
        raise SystemExit(f"no vxnn program at {args.vxnn}: build the vxnn target first")

    files = args.files or ["README.md"] + sorted(
        os.path.join("docs", n) for n in os.listdir(os.path.join(args.root, "docs"))
        if n.endswith(".md"))
    runner = Runner(args)
    failures, ran, skipped = [], 0, 0
    for name in files:
        blocks = [b for b in read_blocks(os.path.join(args.root, name), name) if b.runnable]
        python_document = any(b.language == "python" for b in blocks)
        if args.only == "python" and not python_document:
            continue
        if args.only in ("sh", "cpp"):
            blocks = [] if python_document else [b for b in blocks if b.language == args.only]
        if not blocks:
            continue
        with tempfile.TemporaryDirectory(prefix="doc_blocks_") as folder:
            shutil.copytree(os.path.join(args.root, "data"), os.path.join(folder, "data"))
            skip_rest = None
            for block in blocks:
                if skip_rest is None and block.language == "python" and runner.python_unavailable():
                    skip_rest = (f"{runner.python_unavailable()}; build the package "
                                 "(make python) to run it")
                if skip_rest is not None:
                    print(f"SKIP {block.where()}: {block.language} block: {skip_rest}")
                    skipped += 1
                    continue
                if block.language == "cpp" and not args.lib_dir:
                    print(f"SKIP {block.where()}: cpp block: no --lib-dir given")
                    skipped += 1
                    continue
                problem = runner.run(block, folder)
                ran += 1
                if problem is None:
                    print(f"ok   {block.where()}: {block.language} block")
                    continue
                print(f"FAIL {block.where()}: {block.language} block {problem}")
                failures.append(block.where())
                break  # later blocks of this document may need this one's files
    if failures:
        print(f"doc_blocks: {len(failures)} failing block(s), the first at {failures[0]}")
        return 1
    if ran == 0 and skipped > 0:
        print(f"doc_blocks: every block skipped ({skipped})")
        return SKIPPED
    print(f"doc_blocks: {ran} block(s) ran as documented, {skipped} skipped")
    return 0


if __name__ == "__main__":
    sys.exit(main())
