"""Where the command writes: its files, checked before any analysis runs and
replaced whole or not at all, and standard output, whose failures end the
command with one line rather than a traceback.

A file the command writes takes its name only once it is complete: it is
written beside its path and renamed over it, so an interrupted or failed
write (a full disk, Ctrl-C, Graphviz failing) leaves whatever was there
before. A path that names something other than a regular file (a device, a
pipe, /dev/stdout) is written in place: renaming over it would replace the
device or the pipe itself.
"""

import os
import stat
import sys

from .edges import InputError


class OutputError(Exception):
    """Standard output could not be written; reported in one line, exit status 2."""


def printable(text):
    """text with every character that does not print (control characters, line
    separators, undecodable bytes of a path) escaped as Python escapes it, so
    that a message or a report line stays one line and sends no control
    sequence to a terminal. Text that prints is returned as it is."""
    if text.isprintable():
        return text
    out = []
    for c in text:
        if c.isprintable():
            out.append(c)
        elif c in "\n\r\t":
            out.append({"\n": "\\n", "\r": "\\r", "\t": "\\t"}[c])
        else:
            code = ord(c)
            # A byte that the file system's encoding did not decode comes back
            # as the lone surrogate U+DC80 + byte: shown as that byte.
            if 0xDC80 <= code <= 0xDCFF:
                code -= 0xDC00
            out.append(f"\\x{code:02x}" if code <= 0xFF else f"\\u{code:04x}" if code <= 0xFFFF else f"\\U{code:08x}")
    return "".join(out)


def _stat(path):
    try:
        return os.stat(path)
    except FileNotFoundError:
        return None
    except OSError as exc:
        raise InputError(f"cannot write {printable(path)}: {exc.strerror or exc}") from None


def _temporary(path):
    """A new file beside path for its next contents, and its name."""
    folder, name = os.path.split(path)
    for attempt in range(100):
        temp = os.path.join(folder, f".{name}.{os.getpid()}-{attempt}.tmp")
        try:
            return os.open(temp, os.O_WRONLY | os.O_CREAT | os.O_EXCL | os.O_CLOEXEC, 0o666), temp
        except FileExistsError:
            continue
    raise FileExistsError(f"no free temporary name beside {path}")


def check_writable(option, path):
    """Raises InputError unless the command could write path, leaving no file
    behind: a new path's file is created beside it and removed, an existing
    file opened for appending, which changes nothing. --save, which always
    renames its file over the path, takes only a regular file."""
    shown = printable(path)
    if path == "" or path.endswith(os.sep):
        raise InputError(f"--{option}: {shown!r} is not a file name")
    st = _stat(path)
    if st is not None and stat.S_ISDIR(st.st_mode):
        raise InputError(f"--{option}: {shown!r} is not a file name")
    if option == "save" and st is not None and not stat.S_ISREG(st.st_mode):
        raise InputError(f"--save: {shown} is not a regular file: a snapshot replaces a file whole")
    try:
        if st is not None:
            # O_NONBLOCK: a pipe with no reader fails at once instead of waiting for one.
            os.close(os.open(path, os.O_WRONLY | os.O_APPEND | os.O_CLOEXEC | os.O_NONBLOCK))
        if st is None or stat.S_ISREG(st.st_mode):
            fd, temp = _temporary(os.path.realpath(path))
            os.close(fd)
            os.unlink(temp)
    except OSError as exc:
        raise InputError(f"cannot write {shown}: {exc.strerror or exc}") from None


def replace(path, write):
    """Calls write(name) to write the contents of path into the file called
    name, then gives that file the path's name. A path that is not a regular
    file is written in place. Raises InputError if the file cannot be
    written; on any failure the path keeps what it held."""
    shown = printable(path)
    st = _stat(path)
    if st is not None and not stat.S_ISREG(st.st_mode):
        try:
            write(path)
        except OSError as exc:
            raise InputError(f"cannot write {shown}: {exc.strerror or exc}") from None
        return
    # Through a symbolic link, the file it names is replaced, not the link.
    target = os.path.realpath(path)
    temp = None
    try:
        fd, temp = _temporary(target)
        os.close(fd)
        if st is not None:
            os.chmod(temp, stat.S_IMODE(st.st_mode))
        write(temp)
        os.replace(temp, target)
        temp = None
    except OSError as exc:
        raise InputError(f"cannot write {shown}: {exc.strerror or exc}") from None
    finally:
        if temp is not None:
            try:
                os.unlink(temp)
            except OSError:
                pass


def write_text(path, text):
    def write(name):
        with open(name, "w", encoding="utf-8") as f:
            f.write(text)

    replace(path, write)


class Stdout:
    """Standard output for the report: a failure to write it (a full disk, a
    reader gone, a closed descriptor) becomes OutputError, after which the
    descriptor is pointed at /dev/null, so that the interpreter's last flush
    of what is still buffered neither fails nor complains."""

    def __init__(self, stream, json=False):
        if stream is None:
            raise OutputError("cannot write standard output: it is closed")
        self.stream = stream
        reconfigure = getattr(stream, "reconfigure", None)
        if reconfigure is not None:
            # JSON is UTF-8 text whatever the locale says; the text report
            # escapes what the locale's encoding cannot show.
            reconfigure(**({"encoding": "utf-8", "errors": "strict"} if json else {"errors": "backslashreplace"}))

    def write(self, text):
        try:
            return self.stream.write(text)
        except OSError as exc:
            self._failed(exc)

    def flush(self):
        try:
            self.stream.flush()
        except OSError as exc:
            self._failed(exc)

    def _failed(self, exc):
        try:
            fileno = self.stream.fileno()
            devnull = os.open(os.devnull, os.O_WRONLY)
            os.dup2(devnull, fileno)
            os.close(devnull)
        except (OSError, ValueError, AttributeError):
            pass
        raise OutputError(f"cannot write standard output: {exc.strerror or exc}") from None


def note_stream():
    """Where a message goes: standard error, or nowhere when it is closed."""
    return sys.stderr if sys.stderr is not None else open(os.devnull, "w")
