"""What a valid instance's loads and orders make impossible, before any search.

``load_problems(instance)`` looks at the amounts, capacities, shipments and sequence pairs of an
instance read by ``orvik.instance`` and names, with the place in the document, every rule no
route set can satisfy:

- a site whose delivery or pickup exceeds, in some dimension, the capacity of every agent whose
  type may serve it (a capacity of 0 is no limit in its dimension);
- a shipment whose two sites no single agent may serve, or whose amount no such agent carries;
- a pair or a shipment that names no node, or an agent's start or end node (which no route
  serves);
- a pair that is both "same" and "diff" (a shipment counts as "same");
- pairs and shipments that order sites in a cycle.

Validation reports them as errors and the diagnosis of an instance without a solution as its
reasons; the checker (``orvik.checker``) states the rules of a route on its own.
"""

from __future__ import annotations

from collections.abc import Iterable, Iterator
from typing import NamedTuple

from orvik.instance import AgentRecord, Amount, Instance, Parts, json_path


class LoadProblem(NamedTuple):
    """A rule no route set satisfies, and where the document states it."""

    path: Parts
    message: str

    def __str__(self) -> str:
        return f"{json_path(*self.path)}: {self.message}"


def padded(amount: Iterable[float], dimensions: int) -> Amount:
    """An amount with every one of ``dimensions`` dimensions (a missing one is 0)."""
    values = tuple(amount)
    return values + (0.0,) * (dimensions - len(values))


def fits(amount: Amount, capacity: Amount) -> bool:
    """Whether an amount fits a capacity: in every dimension the capacity is 0 (no limit) or at
    least the amount."""
    return all(not cap or need <= cap for need, cap in zip(amount, capacity, strict=True))


def show_amount(amount: Amount) -> str:
    """An amount for a message: a number for one dimension, else a list."""
    if len(amount) == 1:
        return f"{amount[0]:g}"
    return "[" + ", ".join(f"{a:g}" for a in amount) + "]"


class _Loads:
    def __init__(self, instance: Instance) -> None:
        self.instance = instance
        self.dimensions = instance.dimensions
        self.types = set(instance.agent_types)
        self.endpoints = {a.start_node for a in instance.agents} | {
            a.end_node for a in instance.agents}
        self.labels = {node.id: node.label for node in instance.nodes if node.id is not None}

    def name(self, node_id: int) -> str:
        label = self.labels.get(node_id, node_id)
        return f"node {label!r}" if isinstance(label, str) else f"node {label}"

    def agents_for(self, node_id: int) -> list[AgentRecord]:
        """The agents whose type may serve a node."""
        allowed = self.instance.allowed.get(node_id)
        return [a for a in self.instance.agents
                if a.type is not None and (allowed is None or a.type in allowed)]

    def capacity(self, agent: AgentRecord) -> Amount:
        return padded(agent.capacities, self.dimensions)

    def sites(self) -> Iterator[LoadProblem]:
        """Sites whose own amounts no agent allowed to serve them carries."""
        if not self.dimensions:
            return
        for node in self.instance.nodes:
            if node.id is None or node.id in self.endpoints:
                continue
            for key, amount in ((node.delivery_key, node.delivery), ("pickup", node.pickup)):
                if not amount:
                    continue
                need = padded(amount, self.dimensions)
                agents = self.agents_for(node.id)
                if agents and not any(fits(need, self.capacity(a)) for a in agents):
                    largest = max((self.capacity(a) for a in agents), key=sum)
                    yield LoadProblem((*node.path, key), (
                        f"{key} {show_amount(amount)} exceeds the capacity of every agent that may "
                        f"serve {self.name(node.id)} (the largest is {show_amount(largest)})"))

    def named(self, node_id: int | None, path: Parts) -> bool:
        """Whether a pair or shipment names a site; a problem when it names none."""
        if node_id is None:
            return False
        if node_id not in self.instance.vertex:
            self.out.append(LoadProblem(path, f"no node has id {node_id}"))
            return False
        if node_id in self.endpoints:
            self.out.append(LoadProblem(path, (
                f"{self.name(node_id)} is an agent's start or end node, which no route serves")))
            return False
        return True

    def shipments(self) -> None:
        for item in self.instance.shipment_items():
            pickup = self.named(item.pickup, (*item.path, "pickup"))
            delivery = self.named(item.delivery, (*item.path, "delivery"))
            if not (pickup and delivery):
                continue
            assert item.pickup is not None and item.delivery is not None
            if item.pickup == item.delivery:
                self.out.append(LoadProblem(item.path, (
                    f"picks up and delivers at the same {self.name(item.pickup)}")))
                continue
            both = [a for a in self.agents_for(item.pickup)
                    if a in self.agents_for(item.delivery)]
            if not both:
                self.out.append(LoadProblem(item.path, (
                    f"no single agent may serve both {self.name(item.pickup)} and "
                    f"{self.name(item.delivery)} (their allowed types share no agent)")))
                continue
            if item.amount and self.dimensions:
                need = padded(item.amount, self.dimensions)
                if not any(fits(need, self.capacity(a)) for a in both):
                    self.out.append(LoadProblem((*item.path, "amount"), (
                        f"amount {show_amount(item.amount)} exceeds the capacity of every agent that "
                        f"may serve both {self.name(item.pickup)} and "
                        f"{self.name(item.delivery)}")))

    def pairs(self) -> None:
        """Pairs naming sites, pairs both "same" and "diff", and cycles of the order."""
        kinds: dict[frozenset[int], dict[str, Parts]] = {}
        edges: dict[int, list[tuple[int, Parts]]] = {}
        for pair in self.instance.pairs():
            before = self.named(pair.before, (*pair.path, "before"))
            after = self.named(pair.after, (*pair.path, "after"))
            if not (before and after):
                continue
            assert pair.before is not None and pair.after is not None
            if pair.before == pair.after:
                if pair.type is not None:
                    self.out.append(LoadProblem(pair.path, (
                        f"pairs {self.name(pair.before)} with itself")))
                continue
            kind = "diff" if pair.type == "diff" else "same" if pair.type == "same" else None
            if kind is not None:
                kinds.setdefault(frozenset((pair.before, pair.after)), {}).setdefault(
                    kind, pair.path)
            if kind != "diff":
                edges.setdefault(pair.before, []).append((pair.after, pair.path))
        for item in self.instance.shipment_items():
            if (item.pickup in self.labels and item.delivery in self.labels
                    and item.pickup != item.delivery and item.pickup not in self.endpoints
                    and item.delivery not in self.endpoints):
                assert item.pickup is not None and item.delivery is not None
                kinds.setdefault(frozenset((item.pickup, item.delivery)), {}).setdefault(
                    "same", item.path)
                edges.setdefault(item.pickup, []).append((item.delivery, item.path))
        for sites, seen in kinds.items():
            if "same" in seen and "diff" in seen:
                a, b = sorted(sites)
                self.out.append(LoadProblem(seen["diff"], (
                    f"{self.name(a)} and {self.name(b)} must be on different agents' routes "
                    f"here, and on one route at {json_path(*seen['same'])}")))
        cycle = _cycle(edges)
        if cycle is not None:
            nodes, path = cycle
            order = " -> ".join(self.name(n) for n in nodes)
            self.out.append(LoadProblem(path, f"the pairs and shipments order sites in a "
                                              f"cycle: {order}"))

    def run(self) -> list[LoadProblem]:
        self.out: list[LoadProblem] = list(self.sites())
        self.shipments()
        self.pairs()
        return self.out


def _cycle(edges: dict[int, list[tuple[int, Parts]]]) -> tuple[list[int], Parts] | None:
    """A cycle of the order (its nodes, first repeated at the end, and the place of the pair
    that closes it); None when the order has none. Depth first, without recursion."""
    state: dict[int, int] = {}  # 1: on the current path, 2: done
    for root in sorted(edges):
        if state.get(root):
            continue
        path: list[int] = [root]
        stack: list[Iterator[tuple[int, Parts]]] = [iter(edges.get(root, ()))]
        state[root] = 1
        while stack:
            step = next(stack[-1], None)
            if step is None:
                state[path.pop()] = 2
                stack.pop()
                continue
            node, where = step
            if state.get(node) == 1:
                return [*path[path.index(node):], node], where
            if not state.get(node):
                state[node] = 1
                path.append(node)
                stack.append(iter(edges.get(node, ())))
    return None


def load_problems(instance: Instance) -> list[LoadProblem]:
    """Every rule of a valid instance's loads and orders that no route set satisfies; see the
    module's description."""
    return _Loads(instance).run()
