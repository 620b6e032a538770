"""The JSON Schema of the instance format, and what it says about the keys of a document.

The schema shipped with the package (``orvik/schemas/instance.schema.json``) is the one list of
the keys an instance may hold: ``unknown_keys`` walks a document along it and gives every key
that no schema of its place names, and ``schema_keys`` every key that the schema names
anywhere. An object whose schema lists no properties, or admits any other key
(``additionalProperties``, as the cost matrices by agent type), has no unknown keys. Where the
keys of an object depend on a value (``allOf`` of ``if``/``then``, as the constraints by kind),
the branches that apply count; when none applies (a kind that is none), all of them do, so
that a misspelled kind is not reported a second time through its keys.
"""

from __future__ import annotations

import json
from collections.abc import Iterator
from dataclasses import dataclass, field
from functools import cache
from importlib import resources
from typing import Any

import jsonschema

Parts = tuple[str | int, ...]


@cache
def instance_schema() -> dict[str, Any]:
    """The JSON Schema of the instance format, as shipped with the package."""
    text = resources.files("orvik").joinpath("schemas/instance.schema.json").read_text("utf-8")
    return json.loads(text)


@dataclass(eq=False)
class _Shape:
    """What one schema says about keys: those it names (None: any key goes), the schema of
    each, of other keys, of array elements, and the conditional branches that add keys."""

    keys: frozenset[str] | None = None
    children: dict[str, _Shape] = field(default_factory=dict)
    other: _Shape | None = None
    items: _Shape | None = None
    # (test, shape): the shape's keys apply to a value that the test accepts.
    branches: list[tuple[Any, _Shape]] = field(default_factory=list)
    holds_objects: bool = False  # whether a value of this shape may hold an object to check
    # The children that may hold an object to check (the others are not walked).
    deep: tuple[str, ...] = ()


class _Builder:
    """Builds the shapes of a schema once, following its references."""

    def __init__(self, root: dict[str, Any]) -> None:
        self.root = root
        self.validator = jsonschema.Draft202012Validator(root)
        self.built: dict[int, _Shape] = {}

    def resolve(self, schema: Any) -> Any:
        while isinstance(schema, dict) and isinstance(schema.get("$ref"), str):
            reference = schema["$ref"]
            if not reference.startswith("#/"):
                return {}
            target: Any = self.root
            for part in reference[2:].split("/"):
                target = target[part.replace("~1", "/").replace("~0", "~")]
            schema = target
        return schema

    def shape(self, schema: Any) -> _Shape:
        schema = self.resolve(schema)
        if not isinstance(schema, dict):
            return _Shape()
        known = self.built.get(id(schema))
        if known is not None:
            return known
        shape = self.built[id(schema)] = _Shape()
        properties = schema.get("properties")
        if isinstance(properties, dict):
            shape.children = {key: self.shape(sub) for key, sub in properties.items()}
        extra = schema.get("additionalProperties")
        if (isinstance(properties, dict) and extra is None) or extra is False:
            shape.keys = frozenset(shape.children)
        if isinstance(extra, dict):
            shape.other = self.shape(extra)
        items = schema.get("items")
        if isinstance(items, dict):
            shape.items = self.shape(items)
        for written in schema.get("allOf", []):
            part = self.resolve(written)
            if isinstance(part, dict) and "if" in part and isinstance(part.get("then"), dict):
                test = self.validator.evolve(schema=part["if"])
                shape.branches.append((test, self.shape(part["then"])))
            elif isinstance(part, dict):
                shape.branches.append((None, self.shape(part)))
        shape.holds_objects = isinstance(properties, dict) or shape.keys is not None
        return shape

    def settle(self, shape: _Shape, seen: set[int]) -> bool:
        """Whether a shape may hold an object to check; sets ``holds_objects`` and ``deep``."""
        if id(shape) in seen:
            return shape.holds_objects
        seen.add(id(shape))
        deep = [key for key, child in shape.children.items() if self.settle(child, seen)]
        for branch in (shape.other, shape.items, *(s for _, s in shape.branches)):
            if branch is not None and self.settle(branch, seen):
                shape.holds_objects = True
        for _, branch in shape.branches:
            deep += [key for key, child in branch.children.items()
                     if child.holds_objects and key not in deep]
        shape.deep = tuple(deep)
        shape.holds_objects = shape.holds_objects or bool(deep)
        return shape.holds_objects


@cache
def _root_shape() -> _Shape:
    builder = _Builder(instance_schema())
    root = builder.shape(builder.root)
    builder.settle(root, set())
    return root


def _applying(shape: _Shape, value: dict[str, Any]) -> list[_Shape]:
    """The branches of a shape that apply to an object (all conditional ones when none does)."""
    plain = [branch for test, branch in shape.branches if test is None]
    tested = [(test, branch) for test, branch in shape.branches if test is not None]
    chosen = [branch for test, branch in tested if test.is_valid(value)]
    return plain + (chosen if chosen or not tested else [branch for _, branch in tested])


def known_keys(shape: _Shape, value: dict[str, Any]) -> tuple[frozenset[str] | None,
                                                                 dict[str, _Shape]]:
    """The keys an object of a shape may hold (None: any) and the shape of each."""
    if not shape.branches:
        return shape.keys, shape.children
    keys = set(shape.keys or ())
    children = dict(shape.children)
    listed = shape.keys is not None
    admits_any = shape.keys is None and (bool(shape.children) or shape.other is not None)
    for branch in _applying(shape, value):
        branch_keys, branch_children = known_keys(branch, value)
        if branch_keys is None:
            admits_any = admits_any or bool(branch_children) or branch.other is not None
        else:
            listed = True
            keys |= branch_keys
        for key, child in branch_children.items():
            # Branches that give one key different shapes (the items of every kind, when the
            # kind is none of them) leave what is under it unchecked.
            children[key] = child if children.get(key, child) is child else _Shape()
    return (frozenset(keys) if listed and not admits_any else None), children


@dataclass(frozen=True)
class UnknownKey:
    """A key no schema of its place names: the path of its object, the key, and the keys that
    object may hold."""

    parent: Parts
    key: str
    known: frozenset[str]

    @property
    def path(self) -> Parts:
        """Where the key is."""
        return (*self.parent, self.key)


def unknown_keys(document: Any) -> Iterator[UnknownKey]:
    """Every key of a document that the instance schema does not name at its place, in
    document order."""
    yield from _walk(_root_shape(), document, ())


def _walk(shape: _Shape, value: Any, path: Parts) -> Iterator[UnknownKey]:
    if type(value) is dict:
        keys, children = known_keys(shape, value)
        if keys is not None and not value.keys() <= keys:
            for key in value:
                if key not in keys:
                    yield UnknownKey(path, key, keys)
        deep = shape.deep if not shape.branches else tuple(
            key for key, child in children.items() if child.holds_objects)
        for key in deep:
            if key in value:
                yield from _walk(children[key], value[key], (*path, key))
        if shape.other is not None and shape.other.holds_objects:
            for key, item in value.items():
                if key not in children:
                    yield from _walk(shape.other, item, (*path, key))
    elif type(value) is list and shape.items is not None and shape.items.holds_objects:
        items = shape.items
        for i, item in enumerate(value):
            yield from _walk(items, item, (*path, i))


@cache
def schema_keys() -> frozenset[str]:
    """Every key the instance schema names anywhere."""
    names: set[str] = set()

    def collect(schema: Any) -> None:
        if isinstance(schema, dict):
            properties = schema.get("properties")
            if isinstance(properties, dict):
                names.update(properties)
            for sub in schema.values():
                collect(sub)
        elif isinstance(schema, list):
            for sub in schema:
                collect(sub)

    collect(instance_schema())
    return frozenset(names)


def stray_keys(item: dict[str, Any]) -> list[str]:
    """The keys of an object that the instance schema names nowhere: where a required key is
    missing, the likely misspellings of it."""
    known = schema_keys()
    return [key for key in item if isinstance(key, str) and key not in known]
