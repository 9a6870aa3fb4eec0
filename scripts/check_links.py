#!/usr/bin/env python3
"""Checks every relative link of README.md and docs/*.md.

A link is [text](target), ![alt](target) or a reference definition
"[name]: target", outside code blocks and code spans. A relative target
must name a file or folder that exists (relative to the document); a
"#anchor", alone or after a Markdown file, must match a heading of that
file, spelt as the repository's web view spells heading anchors: lower
case, punctuation dropped, spaces as hyphens, "-1", "-2", ... for repeated
headings. Links with a scheme (https:, mailto:) are not checked.

Prints each broken link with its file and line and exits 1 when there is
one. Plain Python 3 standard library.
"""

import argparse
import os
import re
import sys

FENCE = re.compile(r"^\s*(```+|~~~+)")
HEADING = re.compile(r"^\s{0,3}(#{1,6})\s+(.*?)\s*#*\s*$")
INLINE = re.compile(r"!?\[(?:[^\[\]]|\[[^\]]*\])*\]\(\s*<?([^)\s>]*)>?(?:\s+\"[^\"]*\")?\s*\)")
DEFINITION = re.compile(r"^\s{0,3}\[[^\]]+\]:\s*<?(\S+?)>?(?:\s+.*)?$")
CODE_SPAN = re.compile(r"(`+)(?:(?!\1).)+?\1")
SCHEME = re.compile(r"^[a-zA-Z][a-zA-Z0-9+.-]*:")


def prose_lines(path, keep_code=False):
    """(line number, text) of the lines outside fenced blocks, code spans
    blanked out unless keep_code."""
    inside = None
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, start=1):
            m = FENCE.match(line)
            if m:
                if inside is None:
                    inside = m.group(1)
                elif m.group(1).startswith(inside) and not line.strip()[len(m.group(1)):].strip():
                    inside = None
                continue
            if inside is None:
                line = line.rstrip("\n")
                if not keep_code:
                    line = CODE_SPAN.sub(lambda span: " " * len(span.group(0)), line)
                yield number, line


def slug(heading):
    text = re.sub(r"`|\*\*|__", "", heading).strip().lower()
    # Links inside a heading keep their text only.
    text = re.sub(r"\[([^\]]*)\]\([^)]*\)", r"\1", text)
    text = "".join(c for c in text if c.isalnum() or c in " -_")
    return text.replace(" ", "-")


def anchors(path, cache={}):
    if path not in cache:
        seen, found = {}, set()
        for _, line in prose_lines(path, keep_code=True):
            m = HEADING.match(line)
            if not m:
                continue
            base = slug(m.group(2))
            n = seen.get(base, 0)
            seen[base] = n + 1
            found.add(base if n == 0 else f"{base}-{n}")
        cache[path] = found
    return cache[path]


def links(path):
    for number, line in prose_lines(path):
        m = DEFINITION.match(line)
        if m:
            yield number, m.group(1)
            continue
        for m in INLINE.finditer(line):
            yield number, m.group(1)


def check(root, name):
    """The broken links of one document, as messages."""
    path = os.path.join(root, name)
    problems = []
    for number, target in links(path):
        if not target or SCHEME.match(target):
            continue
        file_part, _, anchor = target.partition("#")
        where = f"{name}:{number}: {target}"
        if file_part:
            resolved = os.path.normpath(os.path.join(os.path.dirname(path), file_part))
            if not os.path.exists(resolved):
                problems.append(f"{where}: no file {os.path.relpath(resolved, root)}")
                continue
        else:
            resolved = path
        if anchor and resolved.endswith(".md") and anchor not in anchors(resolved):
            problems.append(f"{where}: no heading with the anchor #{anchor} in "
                            f"{os.path.relpath(resolved, root)}")
    return problems


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--root", required=True, help="the project's source folder")
    parser.add_argument("files", nargs="*",
                        help="Markdown files relative to --root (default README.md docs/*.md)")
    args = parser.parse_args()
    root = os.path.abspath(args.root)
    files = args.files or ["README.md"] + sorted(
        os.path.join("docs", n) for n in os.listdir(os.path.join(root, "docs"))
        if n.endswith(".md"))
    problems, count = [], 0
    for name in files:
        count += sum(1 for _ in links(os.path.join(root, name)))
        problems += check(root, name)
    for p in problems:
        print(p)
    if problems:
        print(f"check_links: {len(problems)} broken link(s) in {len(files)} file(s)")
        return 1
    print(f"check_links: {count} link(s) in {len(files)} file(s), none broken")
    return 0


if __name__ == "__main__":
    sys.exit(main())
