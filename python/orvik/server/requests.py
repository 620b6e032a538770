"""What a request to the solving service asks: its body read within the size limit, the
instance it holds, and the options of the solve, each refused with the command line's message
when it cannot be used.

A body is an instance document (as a file holds it, or as ``Model.to_json`` writes it), with the
options of the solve in the query string (``?time_limit=5&seed=1``), or an object
``{"instance": {...}, "options": {...}}``. Nothing in a request names a file: instances come in
the body only.
"""

from __future__ import annotations

import math
from dataclasses import dataclass
from typing import Any

from orvik.documents import InstanceError, a_json_type, parse_json
from orvik.instance import Instance, read_instance
from orvik.rules import DEFAULT_TIME_LIMIT
from orvik.settings import budget_seconds, check_solve_options
from orvik.validation import Findings, ValidationError, validate

# The options a request may give; the others of a solve (progress, stop, validate) are the
# service's.
REQUEST_OPTIONS = ("time_limit", "improve", "seed", "iterations", "clock")
_FLAGS = {"true": True, "1": True, "yes": True, "false": False, "0": False, "no": False}


class RequestError(Exception):
    """A request the service refuses: its HTTP status, the message, and more to say (the
    findings of a validation, say)."""

    def __init__(self, status: int, message: str, **details: Any) -> None:
        super().__init__(message)
        self.status = status
        self.message = message
        self.details = details


def is_json(content_type: str | None) -> bool:
    """Whether a content type names JSON (application/json, or any +json type)."""
    if not content_type:
        return False
    kind = content_type.split(";", 1)[0].strip().lower()
    return kind == "application/json" or (kind.startswith("application/") and
                                          kind.endswith("+json"))


def parse_body(raw: bytes, content_type: str | None) -> Any:
    """The JSON document of a request body."""
    if not is_json(content_type):
        raise RequestError(415, f"the body must be JSON, sent with Content-Type: "
                                f"application/json (got {content_type or 'no content type'})")
    try:
        text = raw.decode("utf-8")
    except UnicodeDecodeError:
        raise RequestError(400, "request body: not UTF-8 text") from None
    try:
        return parse_json(text, "request body", "the body")
    except InstanceError as error:
        raise RequestError(400, str(error)) from None


def _query_value(name: str, text: str) -> Any:
    """An option from the query string, in the type the solve takes."""
    if name == "time_limit":
        try:
            return float(text)
        except ValueError:
            raise RequestError(400, f"{name}: not a number of seconds: {text!r}") from None
    if name in ("seed", "iterations"):
        try:
            return int(text)
        except ValueError:
            raise RequestError(400, f"{name}: not a whole number: {text!r}") from None
    if name == "improve":
        flag = _FLAGS.get(text.strip().lower())
        if flag is None:
            raise RequestError(400, f"improve: true or false, got {text!r}")
        return flag
    return text


def solve_request(body: Any, query: dict[str, str]) -> tuple[dict[str, Any], dict[str, Any]]:
    """The instance document and the options of a solve request."""
    if not isinstance(body, dict):
        raise RequestError(400, f"request body: expected a JSON object (an instance, or "
                                f"{{\"instance\": ..., \"options\": ...}}), got "
                                f"{a_json_type(body)}")
    if "instance" in body and "nodes" not in body:
        unknown = [key for key in body if key not in ("instance", "options")]
        if unknown:
            raise RequestError(400, f"request body: unknown key {unknown[0]!r}; a wrapped "
                                    f"request has \"instance\" and \"options\"")
        document, options = body["instance"], body.get("options") or {}
        if not isinstance(document, dict):
            raise RequestError(400, f"$.instance: expected an object (an instance), got "
                                    f"{a_json_type(document)}")
        if not isinstance(options, dict):
            raise RequestError(400, f"$.options: expected an object, got "
                                    f"{a_json_type(options)}")
        if query:
            raise RequestError(400, "give the options in the body's \"options\" or in the query "
                                    "string, not both")
    else:
        document = body
        options = {name: _query_value(name, value) for name, value in query.items()
                   if name in REQUEST_OPTIONS}
        unknown = [name for name in query if name not in REQUEST_OPTIONS]
        if unknown:
            raise RequestError(400, f"unknown option {unknown[0]!r}; the options are "
                                    f"{', '.join(REQUEST_OPTIONS)}")
    unknown = [name for name in options if name not in REQUEST_OPTIONS]
    if unknown:
        raise RequestError(400, f"unknown option {unknown[0]!r}; the options are "
                                f"{', '.join(REQUEST_OPTIONS)}")
    try:
        check_solve_options(options, "solve")
    except (TypeError, ValueError) as error:
        raise RequestError(400, str(error)) from None
    return document, options


@dataclass
class Prepared:
    """A solve request the service takes: the instance read and validated, the options with
    the time limit it runs with, and what the response should say about them."""

    instance: Instance
    options: dict[str, Any]
    time_limit: float
    notes: list[str]
    warnings: list[dict[str, str]]


def findings_view(findings: Findings) -> dict[str, Any]:
    """Findings as the service shows them: each with its severity, JSON path and message, and
    the line `orvik validate` prints for it."""

    def one(finding: Any) -> dict[str, str]:
        return {"severity": finding.severity, "path": finding.path, "message": finding.message,
                "text": str(finding)}

    return {"valid": findings.ok, "errors": [one(f) for f in findings.errors],
            "warnings": [one(f) for f in findings.warnings]}


def read_document(document: dict[str, Any]) -> Instance:
    """An instance document read as a solve reads it; what cannot be read at all is a 400 with
    the reader's message."""
    try:
        return read_instance(document)
    except (InstanceError, TypeError, ValueError, RecursionError) as error:
        raise RequestError(400, f"the instance cannot be read: {error}") from None


def prepare(document: dict[str, Any], options: dict[str, Any], max_time: float) -> Prepared:
    """Read and validate the instance of a solve request and settle its time limit: the one
    given, else the instance's own, else the default, clamped to ``max_time``. An instance with
    errors is a 422 listing them, as `orvik solve` prints them."""
    instance = read_document(document)
    try:
        findings = validate(instance)
    except (InstanceError, TypeError, ValueError, RecursionError) as error:
        raise RequestError(422, str(error)) from None
    view = findings_view(findings)
    if findings.errors:
        raise RequestError(422, str(ValidationError(findings)), **view)
    try:
        instance.require(every=False)
    except (InstanceError, TypeError, ValueError) as error:
        raise RequestError(422, str(error), **view) from None
    notes = []
    wanted = budget_seconds(instance.options, options.get("time_limit"))
    limit = wanted
    if not math.isfinite(wanted) or wanted > max_time:
        limit = max_time
        source = ("the time limit asked" if options.get("time_limit") is not None
                  else "the instance's time limit" if instance.options.time_limit is not None
                  else f"the default time limit ({DEFAULT_TIME_LIMIT:g} s)")
        notes.append(f"{source}, {wanted:g} s, is above this server's maximum: the job runs "
                     f"for at most {max_time:g} s")
    return Prepared(instance, {**options, "time_limit": limit}, limit, notes, view["warnings"])
