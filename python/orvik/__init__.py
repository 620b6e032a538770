"""Orvik: a multiple travelling salesman solver with side constraints.

Build an instance with ``Model`` (or read one with ``Model.from_json``), check it with
``validate``, solve it with ``Model.solve`` (or ``orvik.solve``, which also runs a portfolio of
seeds) and read the ``Solution`` in your own ids; plot it with ``orvik.plotting``. Solve many
instances in parallel, on threads, processes or a Dask cluster, with ``solve_many``. Time limits
count wall-clock time unless ``clock="cpu"`` asks for the solving thread's processor time. The C++ core lives in the extension module ``_orvik_core``, whose public
names this package re-exports.
"""

from importlib.metadata import PackageNotFoundError, version

from _orvik_core import Agent as Agent
from _orvik_core import AssignmentConstraint as AssignmentConstraint
from _orvik_core import Node as Node
from _orvik_core import NodeType as NodeType
from _orvik_core import ObjectiveType as ObjectiveType
from _orvik_core import Options as Options
from _orvik_core import Position as Position
from _orvik_core import Problem as Problem
from _orvik_core import Result as Result
from _orvik_core import Solver as Solver
from _orvik_core import TimeWindowConstraint as TimeWindowConstraint
from _orvik_core import solve_document as solve_document
from _orvik_core import solve_json_file as solve_json_file
from _orvik_core import solve_json_str as solve_json_str

from orvik.batch import solve as solve
from orvik.batch import solve_many as solve_many
from orvik.checker import CheckReport as CheckReport
from orvik.checker import check as check
from orvik.documents import InstanceError as InstanceError
from orvik.model import AgentSpec as AgentSpec
from orvik.model import Location as Location
from orvik.model import Model as Model
from orvik.model import PrecedenceSpec as PrecedenceSpec
from orvik.model import ShipmentSpec as ShipmentSpec
from orvik.solution import Progress as Progress
from orvik.solution import ProgressReport as ProgressReport
from orvik.solution import ProgressRoute as ProgressRoute
from orvik.solution import Route as Route
from orvik.solution import Solution as Solution
from orvik.solution import Statistics as Statistics
from orvik.solution import Stop as Stop
from orvik.solving import SolverError as SolverError
from orvik.validation import Finding as Finding
from orvik.validation import Findings as Findings
from orvik.validation import ValidationError as ValidationError
from orvik.validation import validate as validate

try:
    __version__ = version("orvik")
except PackageNotFoundError:  # running from a source tree without an installed package
    __version__ = "0.0.0"

__all__ = [
    "Agent",
    "AgentSpec",
    "AssignmentConstraint",
    "CheckReport",
    "Finding",
    "Findings",
    "InstanceError",
    "Location",
    "Model",
    "Node",
    "NodeType",
    "ObjectiveType",
    "Options",
    "Position",
    "PrecedenceSpec",
    "Problem",
    "Progress",
    "ProgressReport",
    "ProgressRoute",
    "Result",
    "Route",
    "ShipmentSpec",
    "Solution",
    "Solver",
    "SolverError",
    "Statistics",
    "Stop",
    "TimeWindowConstraint",
    "ValidationError",
    "__version__",
    "check",
    "solve",
    "solve_document",
    "solve_json_file",
    "solve_json_str",
    "solve_many",
    "validate",
]
