"""Messages of the core on the process's own standard streams, seen from a fresh interpreter."""


SOLVE_FILE = """
import sys
import _orvik_core
out = _orvik_core.solve_json_file(sys.argv[1], 5)
sys.stdout.flush()
print("STATUS", out["status"], flush=True)
"""

BUILD_SOLVER = """
import sys
import _orvik_core as core
problem = core.Problem()
for node_id in (1, 2, 3):
    node = core.Node()
    node.id = node_id
    problem.add_node(node)
agent = core.Agent()
agent.id = 1
agent.type = "car"
agent.start_node = agent.end_node = 1
problem.add_agent(agent, 1)
problem.set_cost_matrix("car", [[0, 1, 2], [1, 0, 1], [2, 1, 0]])
assignment = core.AssignmentConstraint()
assignment.set_assignment(1, ["car"])
assignment.set_assignment(2, ["car"])
problem.set_assignment_constraint(assignment)
core.Solver(problem, core.Options())
print("BUILT", flush=True)
"""

TOO_MANY_POINTS = """
import json, sys
import _orvik_core as core
nodes = [{"id": k, "x": k, "y": 0, "z": 0} for k in range(257)]
doc = {
    "nodes": nodes,
    "agents": [{"id": 0, "type": "car", "start_node": 0, "end_node": 0}],
    "constraints": [{"kind": "assignment", "items": [{"node": k, "types": ["car"]} for k in range(257)]}],
}
try:
    core.solve_json_str(json.dumps(doc))
except Exception as error:
    print("RAISED", type(error).__name__, flush=True)
print("ALIVE", core.solve_json_str('{"nodes": [], "agents": []}')["status"], flush=True)
"""

ASSIGNMENT_WARNING = "[warning] node 3 has no assignment constraint; allowing all types"
WINDOW_WARNING = "[warning] time window node id 99 not found in nodes"


def test_set_up_warnings_go_to_standard_error(run_python, node_3_without_assignment):
    done = run_python(SOLVE_FILE, str(node_3_without_assignment))
    assert done.returncode == 0, done.stderr
    errors = done.stderr.splitlines()
    assert errors.count(ASSIGNMENT_WARNING) == 1
    assert errors.count(WINDOW_WARNING) == 1
    assert ASSIGNMENT_WARNING not in done.stdout
    assert "STATUS success" in done.stdout.splitlines()


def test_warning_is_written_at_solver_construction(run_python):
    done = run_python(BUILD_SOLVER)
    assert done.returncode == 0, done.stderr
    assert done.stderr.splitlines() == [ASSIGNMENT_WARNING]
    assert done.stdout.splitlines()[-1] == "BUILT"


def test_fully_assigned_instance_writes_no_warnings(run_python, two_agents_shared_depot):
    done = run_python(SOLVE_FILE, str(two_agents_shared_depot))
    assert done.returncode == 0, done.stderr
    assert not [line for line in done.stderr.splitlines() if line.startswith("[warning] ")]
    # Progress lines of the search, if any, are plain lines on standard output.
    assert "STATUS success" in done.stdout.splitlines()


def test_too_many_points_raise_instead_of_ending_the_process(run_python):
    done = run_python(TOO_MANY_POINTS)
    assert done.returncode == 0, done.stderr
    lines = done.stdout.splitlines()
    assert any(line.startswith("RAISED ") for line in lines)
    assert lines[-1] == "ALIVE failed"


def test_progress_lines_go_to_standard_output(run_python, one_weight_update):
    done = run_python(SOLVE_FILE, str(one_weight_update))
    assert done.returncode == 0, done.stderr
    # The core writes through the C library's stdout buffer, Python through its own, so the
    # order of the two lines depends on buffering; both are on standard output.
    assert sorted(done.stdout.splitlines()) == ["STATUS success", "w = 1"]
    assert done.stderr == ""
