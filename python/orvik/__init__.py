"""Orvik: a multiple travelling salesman solver with side constraints.

The C++ core lives in the extension module ``_orvik_core``; this package re-exports its public
names and adds what users touch besides it (the ``orvik`` command line).
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
from _orvik_core import solve_json_file as solve_json_file
from _orvik_core import solve_json_str as solve_json_str

from orvik.checker import CheckReport as CheckReport
from orvik.checker import check as check

try:
    __version__ = version("orvik")
except PackageNotFoundError:  # running from a source tree without an installed package
    __version__ = "0.0.0"

__all__ = [
    "Agent",
    "AssignmentConstraint",
    "CheckReport",
    "Node",
    "NodeType",
    "ObjectiveType",
    "Options",
    "Position",
    "Problem",
    "Result",
    "Solver",
    "TimeWindowConstraint",
    "__version__",
    "check",
    "solve_json_file",
    "solve_json_str",
]
