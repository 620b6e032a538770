"""Reading JSON documents (instances and solutions) with one-line errors that name the file, and
the words messages use for what a document holds."""

from __future__ import annotations

import contextlib
import difflib
import json
import math
import os
import re
import secrets
import stat
from collections.abc import Iterable
from pathlib import Path
from typing import Any, Protocol

Source = str | os.PathLike[str] | dict[str, Any]


class HasDocument(Protocol):
    """Anything that gives its instance document: a ``Model``, or an instance already read."""

    def to_dict(self) -> dict[str, Any]:
        """The instance document as a dict."""
        ...


class InstanceError(ValueError):
    """A document that cannot be read or used; the message is one line naming where and what."""


def json_type(value: Any) -> str:
    """The JSON name of a value's type: object, array, string, number, boolean or null."""
    if value is None:
        return "null"
    if isinstance(value, bool):
        return "boolean"
    if isinstance(value, (int, float)):
        return "number"
    if isinstance(value, str):
        return "string"
    if isinstance(value, (list, tuple)):
        return "array"
    if isinstance(value, dict):
        return "object"
    return type(value).__name__


def a_json_type(value: Any) -> str:
    """The JSON type of a value with its article: "an object", "a number", "null"."""
    name = json_type(value)
    if name == "null":
        return name
    return f"{'an' if name[:1] in 'aeiou' else 'a'} {name}"


def show(value: Any) -> str:
    """A short rendering of a value for a message."""
    if isinstance(value, (dict, list)):
        return f"a JSON {json_type(value)}"
    text = json.dumps(value) if not isinstance(value, float) else repr(value)
    return text if len(text) <= 40 else text[:37] + "..."


def counted(count: int, noun: str) -> str:
    """``count`` and ``noun``, the noun plural unless the count is one: "1 agent", "3 agents"."""
    return f"{count} {noun}" if count == 1 else f"{count} {noun}s"


def suggestion(word: str, choices: Iterable[str]) -> str | None:
    """The choice the author most likely meant by ``word``: same letters in another case or
    without separators first, then the closest spelling; None when nothing is close."""
    options = [c for c in choices if c != word]
    squash = re.sub(r"[\s_\-]", "", word).lower()
    for choice in options:
        if re.sub(r"[\s_\-]", "", choice).lower() == squash:
            return choice
    close = difflib.get_close_matches(word, options, n=1, cutoff=0.6)
    return close[0] if close else None


def did_you_mean(word: str, choices: Iterable[str]) -> str:
    """" (did you mean 'x'?)" for the likely choice, or nothing."""
    guess = suggestion(word, choices)
    return f" (did you mean {guess!r}?)" if guess is not None else ""


def plain_costs(row: Any) -> list[float | None] | None:
    """A row of plain costs (a list of finite numbers from 0 up, and nulls) as floats, checked
    with builtins over the whole row (quick on large matrices); None for any other row, which
    the caller checks cost by cost."""
    if type(row) is not list:
        return None
    kinds = set(map(type, row))
    if not kinds <= {float, int, type(None)}:
        return None
    has_none = type(None) in kinds
    numbers = [c for c in row if c is not None] if has_none else row
    try:
        if numbers and not (math.isfinite(sum(numbers)) and min(numbers) >= 0):
            return None
    except OverflowError:
        return None
    if has_none:
        return [None if c is None else float(c) for c in row]
    return list(map(float, row))


def is_number(value: Any) -> bool:
    """Whether a value is a JSON number (booleans are not)."""
    return isinstance(value, (int, float)) and not isinstance(value, bool)


def is_finite_number(value: Any) -> bool:
    """Whether a value is a JSON number that is neither NaN nor infinite."""
    if not is_number(value):
        return False
    try:
        return math.isfinite(value)
    except OverflowError:  # an integer beyond the range of doubles
        return False


def read_json(path: str | os.PathLike[str]) -> Any:
    """Parse a JSON file. Raises ``InstanceError`` for a missing, unreadable or malformed file."""
    name = os.fspath(path)
    try:
        text = Path(name).read_text(encoding="utf-8")
    except FileNotFoundError:
        raise InstanceError(f"{name}: no such file") from None
    except IsADirectoryError:
        raise InstanceError(f"{name}: is a directory, not a file") from None
    except PermissionError:
        raise InstanceError(f"{name}: permission denied") from None
    except UnicodeDecodeError:
        raise InstanceError(f"{name}: not a text file (not UTF-8)") from None
    except OSError as error:
        raise InstanceError(f"{name}: cannot be read ({error.strerror or error})") from None
    return parse_json(text, name)


def parse_json(text: str, name: str, what: str = "the file") -> Any:
    """Parse JSON text read from ``name`` (a file, a request body). Raises ``InstanceError``
    naming it for empty or malformed text, nesting too deep to read, or a whole number too long
    to convert."""
    if not text.strip():
        raise InstanceError(f"{name}: {what} is empty, expected a JSON object")
    try:
        return json.loads(text)
    except json.JSONDecodeError as error:
        raise InstanceError(
            f"{name}: not valid JSON (line {error.lineno}, column {error.colno}: {error.msg})"
        ) from None
    except RecursionError:
        raise InstanceError(f"{name}: not valid JSON (nested too deeply)") from None
    except ValueError as error:  # a whole number of more digits than Python converts
        raise InstanceError(f"{name}: a number cannot be read ({error})") from None


def write_json(document: Any, path: str | os.PathLike[str] | None, indent: int | None) -> str:
    """A document as JSON text ending in a newline; written to ``path`` too when one is given
    (see ``write_text``)."""
    if indent is not None and (isinstance(indent, bool) or not isinstance(indent, int)
                               or indent < 0):
        raise TypeError(f"indent must be a whole number of spaces (0 or more) or None, got "
                        f"{indent!r}")
    text = json.dumps(document, indent=indent) + "\n"
    if path is not None:
        write_text(path, text)
    return text


def write_text(path: str | os.PathLike[str], text: str, *, follow_links: bool = True) -> None:
    """Write a text file whole or not at all: into a temporary file beside it, then renamed over
    it, so that a failed write (a full disk, say) leaves what was there. A path that names a
    device or a pipe (``/dev/stdout``) is written to directly; a folder raises
    ``IsADirectoryError``. With ``follow_links`` false a link at ``path`` is replaced by the file
    instead of writing where it points."""
    name = os.fspath(path)
    target = os.path.realpath(name) if follow_links else os.path.abspath(name)
    try:
        mode = os.lstat(target).st_mode
    except FileNotFoundError:
        mode = None
    if mode is not None and stat.S_ISDIR(mode):
        raise IsADirectoryError(21, "is a folder, not a file", name)
    if mode is not None and not stat.S_ISREG(mode) and not stat.S_ISLNK(mode):
        try:
            with open(target, "w", encoding="utf-8") as handle:
                handle.write(text)
        except OSError as error:
            raise type(error)(error.errno, error.strerror, name) from None
        return
    folder, base = os.path.split(target)
    temporary = os.path.join(folder, f".{base}.{secrets.token_hex(4)}.tmp")
    try:
        # Created with the usual permissions (0666 less the umask), like any new file.
        handle = os.open(temporary, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o666)
    except OSError as error:
        raise type(error)(error.errno, error.strerror, name) from None
    try:
        with os.fdopen(handle, "w", encoding="utf-8") as stream:
            stream.write(text)
            stream.flush()
            os.fsync(stream.fileno())
        if mode is not None and stat.S_ISREG(mode):
            os.chmod(temporary, stat.S_IMODE(mode))
        os.replace(temporary, target)
    except OSError as error:
        with contextlib.suppress(OSError):
            os.unlink(temporary)
        raise type(error)(error.errno, error.strerror, name) from None
    except BaseException:
        with contextlib.suppress(OSError):
            os.unlink(temporary)
        raise


def load_document(source: Source, what: str = "instance") -> dict[str, Any]:
    """A JSON object from a path or a dict; anything else is an ``InstanceError`` naming the file.

    ``what`` names the expected document in messages ("instance", "solution").
    """
    if isinstance(source, dict):
        return source
    if not isinstance(source, (str, os.PathLike)):
        raise InstanceError(
            f"expected a path or a dict for the {what}, got {type(source).__name__}"
        )
    document = read_json(source)
    if not isinstance(document, dict):
        raise InstanceError(
            f"{os.fspath(source)}: the document is a JSON {json_type(document)}, "
            f"expected a JSON object ({what})"
        )
    return document
