"""solve_many and the portfolio solve: thread and process pools, a Dask cluster, failures per
instance, and the choice of the best solution."""

from __future__ import annotations

import json
import multiprocessing
import threading
from concurrent.futures import ProcessPoolExecutor, ThreadPoolExecutor

import orvik
import pytest
from orvik.batch import best_solution
from orvik.random_instances import random_instance
from orvik.rules import better
from orvik.solution import INTERRUPTED, NO_SOLUTION, SOLVED, Route, Solution

# Small instances the search runs to its end, so that a seed and an iteration limit fix each
# outcome whatever the executor.
SEEDS = range(6)
OPTIONS = {"time_limit": 30.0, "seed": 5, "iterations": 40}


def documents():
    return [random_instance(seed, missing=0.0) for seed in SEEDS]


def fingerprint(outcome):
    """What must agree between two solves of one instance."""
    if isinstance(outcome, BaseException):
        return type(outcome).__name__, str(outcome)
    return (outcome.status, outcome.objective_value, outcome.max_cost, outcome.sum_cost,
            [(r.agent, r.nodes, r.cost) for r in outcome.routes],
            outcome.statistics.n_generated)


@pytest.fixture(scope="module")
def serial():
    """Each instance solved on its own, one after the other."""
    return [fingerprint(orvik.Model.from_json(doc, validate=False).solve(**OPTIONS))
            for doc in documents()]


@pytest.mark.parametrize("executor", ["default threads", "thread pool", "process pool"])
def test_a_batch_equals_the_serial_solves(serial, executor):
    # Worker processes start from a fork server: this process runs threads of earlier tests.
    pools = {"default threads": lambda: None, "thread pool": lambda: ThreadPoolExecutor(2),
             "process pool": lambda: ProcessPoolExecutor(
                 2, mp_context=multiprocessing.get_context("forkserver"))}
    pool = pools[executor]()
    try:
        outcomes = orvik.solve_many(documents(), executor=pool, workers=2, **OPTIONS)
    finally:
        if pool is not None:
            pool.shutdown()
    assert [fingerprint(o) for o in outcomes] == serial
    assert all(o.statistics.clock == "wall" for o in outcomes)


def test_a_dask_cluster_equals_the_serial_solves(serial):
    """Two worker processes of a local Dask cluster, through the same submit and result."""
    import distributed  # the orvik[distributed] extra, which requirements-dev.txt installs

    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=":0") as cluster, \
            distributed.Client(cluster) as client:
        outcomes = orvik.solve_many(documents(), executor=client, **OPTIONS)
    assert [fingerprint(o) for o in outcomes] == serial


def test_instances_may_be_models_documents_and_paths(tmp_path, serial):
    doc = documents()[0]
    path = tmp_path / "first.json"
    path.write_text(json.dumps(doc))
    instances = [orvik.Model.from_json(doc, validate=False), doc, path, str(path)]
    outcomes = orvik.solve_many(instances, **OPTIONS)
    assert [fingerprint(o) for o in outcomes] == [serial[0]] * 4


def test_failures_are_reported_per_instance_and_the_others_go_on(tmp_path, serial):
    unreadable = documents()[1]
    del unreadable["nodes"][0]["x"]
    invalid = documents()[1]
    invalid["costs"]["ground"][1].pop()
    instances = [documents()[0], tmp_path / "missing.json", unreadable, invalid, documents()[2]]
    seen = []
    outcomes = orvik.solve_many(instances, return_exceptions=True,
                                on_result=lambda index, outcome: seen.append(index), **OPTIONS)
    assert sorted(seen) == [0, 1, 2, 3, 4]  # each as it finishes
    assert fingerprint(outcomes[0]) == serial[0]
    assert isinstance(outcomes[1], orvik.InstanceError) and "no such file" in str(outcomes[1])
    assert isinstance(outcomes[2], orvik.InstanceError)
    assert str(outcomes[2]) == "$.nodes[0]: missing required key 'x'"
    assert isinstance(outcomes[3], orvik.ValidationError)
    assert "row 1 is short" in str(outcomes[3])
    assert fingerprint(outcomes[4]) == serial[2]


def test_without_return_exceptions_the_first_failure_is_raised(tmp_path):
    with pytest.raises(orvik.InstanceError, match="no such file"):
        orvik.solve_many([documents()[0], tmp_path / "missing.json"], **OPTIONS)
    invalid = documents()[1]
    invalid["costs"]["ground"][1].pop()
    with pytest.raises(orvik.ValidationError):
        orvik.solve_many([invalid], **OPTIONS)


def test_a_stop_event_of_the_caller_reaches_every_solve(long_instance):
    stop = threading.Event()
    stop.set()
    outcomes = orvik.solve_many([long_instance] * 2, workers=2, time_limit=60, stop=stop)
    assert [o.status for o in outcomes] == ["interrupted", "interrupted"]
    assert all(o.check().ok for o in outcomes)


@pytest.mark.parametrize("workers", [1, 3])
def test_the_portfolio_returns_a_solution_of_the_instance(workers, serial):
    doc = documents()[0]
    solution = orvik.solve(doc, OPTIONS["time_limit"], workers=workers, seed=5,
                           iterations=OPTIONS["iterations"])
    assert solution.check().ok
    if workers == 1:
        assert fingerprint(solution) == serial[0]
    else:  # the seeds 5, 6 and 7: never worse than seed 5 alone
        alone = orvik.Model.from_json(doc, validate=False).solve(**OPTIONS)
        assert not better(solution.objective, [r.cost for r in alone.routes],
                          [r.cost for r in solution.routes])


def _solution(status, costs, objective="min_max"):
    routes = tuple(Route(agent=k, agent_type="car", cost=c, stops=()) for k, c in
                   enumerate(costs))
    longest, total = max(costs, default=0.0), sum(costs)
    value = longest if objective == "min_max" else total
    return Solution(status, objective, value, longest, total, routes)


@pytest.mark.parametrize(
    ("objective", "runs", "chosen"),
    [
        ("min_max", [(SOLVED, [5.0, 4.0]), (SOLVED, [4.0, 4.0])], 1),
        ("min_max", [(SOLVED, [5.0, 4.0]), (SOLVED, [5.0, 3.0])], 1),  # the sum breaks ties
        ("min_max", [(SOLVED, [5.0, 3.0]), (SOLVED, [5.0, 3.0])], 0),  # ties: the lower seed
        ("min_sum", [(SOLVED, [6.0, 1.0]), (SOLVED, [4.0, 4.0])], 0),
        ("min_sum", [(NO_SOLUTION, []), (SOLVED, [9.0, 9.0])], 1),  # routes beat none
        ("min_sum", [(INTERRUPTED, [2.0]), (SOLVED, [3.0])], 0),
        ("min_max", [(NO_SOLUTION, []), (NO_SOLUTION, [])], 0),
    ],
)
def test_the_portfolio_keeps_the_best_under_the_objective(objective, runs, chosen):
    solutions = [_solution(status, costs, objective) for status, costs in runs]
    assert best_solution(solutions) is solutions[chosen]
