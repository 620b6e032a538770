"""ObjectiveType and NodeType behave as classic, non-arithmetic enumerations."""

import operator
import pickle

import _orvik_core as core
import pytest

MEMBERS = [
    (core.ObjectiveType, "MinMax", 0),
    (core.ObjectiveType, "MinSum", 1),
    (core.NodeType, "DEPOT", 0),
    (core.NodeType, "TARGET", 1),
]


@pytest.mark.parametrize(("enum", "name", "value"), MEMBERS)
def test_member_name_value_and_conversions(enum, name, value):
    member = getattr(enum, name)
    assert member.name == name
    assert member.value == value
    assert int(member) == value
    assert operator.index(member) == value
    assert ["first", "second"][member] == ["first", "second"][value]
    assert enum(value) == member
    assert enum.__members__[name] == member


@pytest.mark.parametrize(("enum", "name", "value"), MEMBERS)
def test_member_is_hashable_and_pickles(enum, name, value):
    member = getattr(enum, name)
    assert {member: name}[enum(value)] == name
    assert hash(member) == hash(enum(value))
    restored = pickle.loads(pickle.dumps(member))
    assert type(restored) is enum
    assert restored == member


@pytest.mark.parametrize(("enum", "name", "value"), MEMBERS)
def test_member_never_equals_a_plain_integer(enum, name, value):
    member = getattr(enum, name)
    assert member != value
    assert not (member == value)  # noqa: SIM201 (__eq__ itself is under test)
    assert member != None  # noqa: E711 (so is __ne__ against None)


def test_members_of_different_types_differ_despite_equal_values():
    assert core.ObjectiveType.MinMax != core.NodeType.DEPOT
    assert not (core.ObjectiveType.MinMax == core.NodeType.DEPOT)  # noqa: SIM201 (__eq__)
    assert core.ObjectiveType.MinSum != core.NodeType.TARGET


def test_members_of_one_type_compare_by_value():
    assert core.ObjectiveType.MinMax == core.ObjectiveType.MinMax
    assert core.ObjectiveType.MinMax != core.ObjectiveType.MinSum


def test_objective_type_from_integer():
    assert core.ObjectiveType(1) == core.ObjectiveType.MinSum
    assert core.ObjectiveType(1).name == "MinSum"


@pytest.mark.parametrize(
    ("enum", "names"),
    [(core.ObjectiveType, ["MinMax", "MinSum"]), (core.NodeType, ["DEPOT", "TARGET"])],
)
def test_members_mapping(enum, names):
    assert list(enum.__members__) == names


def test_no_ordering_or_arithmetic():
    with pytest.raises(TypeError):
        core.ObjectiveType.MinMax < core.ObjectiveType.MinSum  # noqa: B015
    with pytest.raises(TypeError):
        core.NodeType.DEPOT | core.NodeType.TARGET
