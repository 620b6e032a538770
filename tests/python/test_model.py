"""Value classes, constraint tables and Problem: defaults, conversions, views and lifetimes."""

import gc
import weakref

import _orvik_core as core
import pytest

U64_MAX = 2**64 - 1

DEFAULTS = [
    (core.Position, "x", 0.0),
    (core.Position, "y", 0.0),
    (core.Position, "z", 0.0),
    (core.Node, "id", 0),
    (core.Node, "type", core.NodeType.TARGET),
    (core.Node, "demand", 0.0),
    (core.Agent, "id", 0),
    (core.Agent, "type", ""),
    (core.Agent, "start_node", 0),
    (core.Agent, "end_node", 0),
    (core.Agent, "capacity_limit", 0.0),
    (core.Agent, "time_limit", 0.0),
    (core.Options, "return_to_end", True),
    (core.Options, "objective", core.ObjectiveType.MinSum),
    (core.Options, "time_limit", 60.0),
    (core.Options, "improve", False),
    (core.Options, "seed", 0),
    (core.Options, "improve_iterations", 0),
]

ATTRIBUTE_ORDER = [
    (core.Position, ["x", "y", "z"]),
    (core.Node, ["id", "position", "type", "demand"]),
    (core.Agent, ["id", "type", "start_node", "end_node", "capacity_limit", "time_limit"]),
    (
        core.Options,
        ["return_to_end", "objective", "time_limit", "improve", "seed", "improve_iterations"],
    ),
    (core.AssignmentConstraint, ["set_assignment"]),
    (core.TimeWindowConstraint, ["set_timewindow"]),
    (
        core.Problem,
        [
            "add_node",
            "add_agent",
            "set_cost_matrix",
            "set_assignment_constraint",
            "set_timewindow_constraint",
            "options",
            "nodes",
            "agents_ordered",
        ],
    ),
    (core.Result, ["n_generated", "n_expanded", "timeout", "last_update_time", "paths", "times"]),
]

UNSIGNED = [
    (core.Node, "id"),
    (core.Agent, "id"),
    (core.Agent, "start_node"),
    (core.Agent, "end_node"),
    (core.Options, "seed"),
]
FLOATS = [
    (core.Position, "x"),
    (core.Position, "y"),
    (core.Position, "z"),
    (core.Node, "demand"),
    (core.Agent, "capacity_limit"),
    (core.Agent, "time_limit"),
    (core.Options, "time_limit"),
]


def make_node(node_id, x=0.0):
    node = core.Node()
    node.id = node_id
    node.position.x = x
    return node


def make_agent(agent_id, agent_type="car", start=0, end=0):
    agent = core.Agent()
    agent.id = agent_id
    agent.type = agent_type
    agent.start_node = start
    agent.end_node = end
    return agent


@pytest.mark.parametrize(("cls", "attribute", "expected"), DEFAULTS)
def test_defaults(cls, attribute, expected):
    value = getattr(cls(), attribute)
    assert value == expected
    assert type(value) is type(expected)


def test_default_node_position_is_origin():
    position = core.Node().position
    assert (position.x, position.y, position.z) == (0.0, 0.0, 0.0)


@pytest.mark.parametrize(("cls", "names"), ATTRIBUTE_ORDER)
def test_attributes_and_methods_in_registration_order(cls, names):
    assert [name for name in vars(cls) if not name.startswith("_")] == names


@pytest.mark.parametrize(("cls", "attribute"), UNSIGNED)
@pytest.mark.parametrize("bad", [-1, 2**64, 1.5, "3", None])
def test_unsigned_attribute_rejects_what_is_not_a_u64(cls, attribute, bad):
    obj = cls()
    setattr(obj, attribute, 5)
    with pytest.raises(TypeError):
        setattr(obj, attribute, bad)
    assert getattr(obj, attribute) == 5


@pytest.mark.parametrize(("cls", "attribute"), UNSIGNED)
def test_unsigned_attribute_takes_the_full_range(cls, attribute):
    obj = cls()
    setattr(obj, attribute, U64_MAX)
    assert getattr(obj, attribute) == U64_MAX


@pytest.mark.parametrize(("cls", "attribute"), FLOATS)
def test_float_attribute_takes_ints_and_stores_floats(cls, attribute):
    obj = cls()
    setattr(obj, attribute, 2)
    assert getattr(obj, attribute) == 2.0
    assert type(getattr(obj, attribute)) is float
    with pytest.raises(TypeError):
        setattr(obj, attribute, "2.0")


@pytest.mark.parametrize(
    ("cls", "attribute", "bad"),
    [
        (core.Node, "type", 0),
        (core.Node, "type", core.ObjectiveType.MinMax),
        (core.Options, "objective", 1),
        (core.Options, "objective", core.NodeType.TARGET),
        (core.Node, "position", None),
        (core.Agent, "type", 5),
    ],
)
def test_typed_attributes_reject_other_types(cls, attribute, bad):
    obj = cls()
    before = getattr(obj, attribute)
    with pytest.raises(TypeError):
        setattr(obj, attribute, bad)
    if attribute != "position":
        assert getattr(obj, attribute) == before


def test_agent_type_round_trips_utf8():
    agent = core.Agent()
    agent.type = "Lieferwagen-ü"
    assert agent.type == "Lieferwagen-ü"


def test_enum_attribute_reads_are_copies():
    node = core.Node()
    before = node.type
    node.type = core.NodeType.DEPOT
    assert before == core.NodeType.TARGET
    options = core.Options()
    objective = options.objective
    options.objective = core.ObjectiveType.MinMax
    assert objective == core.ObjectiveType.MinSum


def test_node_position_is_a_view_of_the_node():
    node = core.Node()
    node.position.x = 2
    view = node.position
    view.y = 3.5
    assert (node.position.x, node.position.y) == (2.0, 3.5)


def test_assigning_a_position_stores_a_copy():
    node = core.Node()
    position = core.Position()
    position.x = 1.0
    node.position = position
    position.x = 9.0
    assert node.position.x == 1.0


def test_position_view_keeps_its_node_alive():
    node = core.Node()
    node.position.z = 4.0
    alive = weakref.ref(node)
    view = node.position
    del node
    gc.collect()
    assert alive() is not None
    assert view.z == 4.0
    del view
    gc.collect()
    assert alive() is None


def test_result_cannot_be_constructed():
    with pytest.raises(TypeError) as error:
        core.Result()
    assert str(error.value) == "_orvik_core.Result: No constructor defined!"


def test_constraint_tables_take_keywords():
    core.AssignmentConstraint().set_assignment(node=3, types=["car", "drone"])
    core.TimeWindowConstraint().set_timewindow(node=3, start=0.0, end=10)


@pytest.mark.parametrize(
    "call",
    [
        lambda: core.AssignmentConstraint().set_assignment(-1, ["car"]),
        lambda: core.AssignmentConstraint().set_assignment(1, "car"[0:0] or 5),
        lambda: core.AssignmentConstraint().set_assignment(1, [1, 2]),
        lambda: core.TimeWindowConstraint().set_timewindow(1, "0", 1.0),
        lambda: core.Problem().add_node(None),
        lambda: core.Problem().add_node(core.Agent()),
        lambda: core.Problem().add_agent(core.Agent(), -1),
        lambda: core.Problem().add_agent(None, 1),
        lambda: core.Problem().set_cost_matrix("car", [[0.0, "x"]]),
        lambda: core.Problem().set_cost_matrix("car", [1.0, 2.0]),
        lambda: core.Problem().set_cost_matrix(None, [[0.0]]),
        lambda: core.Problem().set_assignment_constraint(None),
        lambda: core.Problem().set_timewindow_constraint(core.AssignmentConstraint()),
    ],
)
def test_wrong_argument_types_raise_type_error(call):
    with pytest.raises(TypeError):
        call()


def test_problem_starts_empty_with_default_options():
    problem = core.Problem()
    assert problem.nodes() == []
    assert problem.agents_ordered() == []
    options = problem.options()
    assert (options.return_to_end, options.objective, options.time_limit) == (
        True,
        core.ObjectiveType.MinSum,
        60.0,
    )


def test_options_view_changes_the_problem():
    problem = core.Problem()
    problem.options().time_limit = 5.0
    problem.options().objective = core.ObjectiveType.MinMax
    assert problem.options().time_limit == 5.0
    assert problem.options().objective == core.ObjectiveType.MinMax


def test_add_node_stores_a_copy_in_insertion_order():
    problem = core.Problem()
    node = make_node(10, x=1.0)
    problem.add_node(node)
    problem.add_node(make_node(11))
    node.id = 99
    node.position.x = 7.0
    assert [n.id for n in problem.nodes()] == [10, 11]
    assert problem.nodes()[0].position.x == 1.0


def test_node_views_change_the_stored_nodes():
    problem = core.Problem()
    problem.add_node(make_node(1))
    first = problem.nodes()[0]
    first.demand = 2.5
    first.position.x = 3.0
    first.type = core.NodeType.DEPOT
    stored = problem.nodes()[0]
    assert (stored.demand, stored.position.x, stored.type) == (2.5, 3.0, core.NodeType.DEPOT)


def test_nodes_gives_a_new_list_each_call():
    problem = core.Problem()
    problem.add_node(make_node(1))
    listed = problem.nodes()
    listed.clear()
    assert len(problem.nodes()) == 1


def test_agents_ordered_keeps_repeats_and_the_agents_own_id():
    problem = core.Problem()
    agent = make_agent(3)
    problem.add_agent(agent, 7)
    problem.add_agent(agent, 7)
    problem.add_agent(make_agent(4, "drone"), 4)
    assert [(a.id, a.type) for a in problem.agents_ordered()] == [(3, "car"), (3, "car"), (4, "drone")]


def test_agent_views_change_the_stored_agents():
    problem = core.Problem()
    problem.add_agent(make_agent(1), 1)
    problem.agents_ordered()[0].time_limit = 12.0
    assert problem.agents_ordered()[0].time_limit == 12.0


@pytest.mark.parametrize("count", [1, 100, 5000])
def test_views_survive_later_additions(count):
    problem = core.Problem()
    problem.add_node(make_node(1))
    problem.add_agent(make_agent(1), 1)
    node_view = problem.nodes()[0]
    position_view = node_view.position
    agent_view = problem.agents_ordered()[0]
    for k in range(count):
        problem.add_node(make_node(k + 2))
        problem.add_agent(make_agent(k + 2), k + 2)
    node_view.demand = 4.0
    position_view.y = 6.0
    agent_view.capacity_limit = 8.0
    assert problem.nodes()[0].demand == 4.0
    assert problem.nodes()[0].position.y == 6.0
    assert problem.agents_ordered()[0].capacity_limit == 8.0
    assert [n.id for n in problem.nodes()] == list(range(1, count + 2))


@pytest.mark.parametrize(
    "take_view",
    [
        lambda problem: problem.options(),
        lambda problem: problem.nodes()[0],
        lambda problem: problem.agents_ordered()[0],
        lambda problem: problem.nodes()[0].position,
    ],
    ids=["options", "node", "agent", "node-position"],
)
def test_views_keep_the_problem_alive(take_view):
    problem = core.Problem()
    problem.add_node(make_node(1))
    problem.add_agent(make_agent(1), 1)
    alive = weakref.ref(problem)
    view = take_view(problem)
    del problem
    gc.collect()
    assert alive() is not None
    # The view still reads and writes the problem's storage.
    name = next(n for n in vars(type(view)) if not n.startswith("_"))
    setattr(view, name, getattr(view, name))
    del view
    gc.collect()
    assert alive() is None


def test_set_cost_matrix_accepts_nested_sequences():
    problem = core.Problem()
    problem.set_cost_matrix("car", [[0, 1.5], (2, 0)])
    problem.set_cost_matrix(agent_type="car", matrix=[])
