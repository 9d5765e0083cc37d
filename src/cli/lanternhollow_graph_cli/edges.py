"""Reading edge lists: one (source, target) pair a line."""

import gzip
import io
import os
import sys


class InputError(Exception):
    """A problem with the input that the user can fix; reported in one line, exit status 2."""


GZIP_MAGIC = b"\x1f\x8b"


def read_edges(path, header=False):
    """The (source, target) pairs of an edge-list file, in file order.

    One pair a line, the two names separated by a tab, or by a comma when the
    line holds no tab; fields after the second are ignored, and spaces around
    a name are dropped. Empty lines and lines starting with '#' are skipped,
    and with header the first line, whatever it holds. Gzipped input is
    recognised by its first bytes, whatever the file's name; '-' reads
    standard input.

    The command reads its files with Graph.read, which reads them natively;
    this is the same reading, line by line, kept as its literal reference.
    """
    if path == "-":
        return _parse(sys.stdin.buffer, "standard input", header)
    if not os.path.exists(path):
        raise InputError(f"no such file: {path}")
    if os.path.isdir(path):
        raise InputError(f"{path} is a directory, not an edge list")
    try:
        with open(path, "rb") as f:
            return _parse(f, path, header)
    except OSError as exc:
        raise InputError(f"cannot read {path}: {exc.strerror or exc}") from None


def _parse(raw, label, header=False):
    stream = io.BufferedReader(raw) if not hasattr(raw, "peek") else raw
    if stream.peek(2)[:2] == GZIP_MAGIC:
        stream = gzip.GzipFile(fileobj=stream, mode="rb")
    edges = []
    number = 0
    try:
        for number, line in enumerate(stream, 1):
            if header and number == 1:
                continue
            try:
                text = line.decode("utf-8")
            except UnicodeDecodeError:
                raise InputError(f"{label}, line {number}: not valid UTF-8 text") from None
            if number == 1:
                text = text.removeprefix("\ufeff")
            text = text.rstrip("\r\n")
            if not text.strip() or text.startswith("#"):
                continue
            fields = text.split("\t" if "\t" in text else ",")
            if len(fields) < 2:
                raise InputError(f"{label}, line {number}: expected two names separated by a tab or a comma")
            source, target = fields[0].strip(), fields[1].strip()
            if not source or not target:
                raise InputError(f"{label}, line {number}: empty name")
            edges.append((source, target))
    except (OSError, EOFError) as exc:
        # gzip reports a damaged or truncated stream only while reading.
        where = f" after line {number}" if number else ""
        raise InputError(f"cannot read {label}{where}: {exc}") from None
    return edges
