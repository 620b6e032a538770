"""Reading JSON documents (instances and solutions) with one-line errors that name the file."""

from __future__ import annotations

import json
import math
import os
from pathlib import Path
from typing import Any

Source = str | os.PathLike[str] | dict[str, Any]


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


def is_number(value: Any) -> bool:
    """Whether a value is a JSON number (booleans are not)."""
    return isinstance(value, (int, float)) and not isinstance(value, bool)


def is_finite_number(value: Any) -> bool:
    """Whether a value is a JSON number that is neither NaN nor infinite."""
    return is_number(value) and math.isfinite(value)


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
    if not text.strip():
        raise InstanceError(f"{name}: the file is empty, expected a JSON object")
    try:
        return json.loads(text)
    except json.JSONDecodeError as error:
        raise InstanceError(
            f"{name}: not valid JSON (line {error.lineno}, column {error.colno}: {error.msg})"
        ) from None
    except RecursionError:
        raise InstanceError(f"{name}: not valid JSON (nested too deeply)") from None


def write_json(document: Any, path: str | os.PathLike[str] | None, indent: int) -> str:
    """A document as JSON text ending in a newline; written to ``path`` too when one is given."""
    text = json.dumps(document, indent=indent) + "\n"
    if path is not None:
        Path(path).write_text(text, encoding="utf-8")
    return text


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
