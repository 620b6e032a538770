#include "plenro/graph/sparse_graph.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <stdexcept>

#include "plenro/model/log_sink.h"

namespace plenro {

namespace {

// Reports a graph failure the way callers expect: the message on standard output first, then
// the exception.
[[noreturn]] void Fail(const std::string& printed, const std::string& thrown) {
  WriteLog(LogStream::kOut, printed + "\n", /*flush=*/true);
  throw std::runtime_error(thrown);
}

[[noreturn]] void Fail(const std::string& message) {
  Fail(message, message);
}

// Number of vertices needed so that v is one; v + 1 would wrap for the largest value.
std::size_t VertexCountFor(std::uint64_t v) {
  if (v >= std::numeric_limits<std::size_t>::max()) {
    throw std::length_error("SparseGraph: vertex number too large");
  }
  return static_cast<std::size_t>(v) + 1;
}

void AppendCostVector(std::string& out, const CostVector& cost) {
  out += '[';
  // "%f" of the largest double needs 317 characters.
  char buffer[400];
  for (std::size_t i = 0; i < cost.size(); ++i) {
    if (i > 0) {
      out += ',';
    }
    const int length = std::snprintf(buffer, sizeof buffer, "%f", cost[i]);
    out.append(buffer, static_cast<std::size_t>(length));
  }
  out += ']';
}

void AppendAdjacencyLine(std::string& out, std::uint64_t v,
                         const std::vector<std::uint64_t>& neighbours,
                         const std::vector<CostVector>& costs) {
  out += " -- ";
  out += std::to_string(v);
  out += ":[";
  for (std::size_t i = 0; i < neighbours.size(); ++i) {
    out += std::to_string(neighbours[i]);
    out += '(';
    AppendCostVector(out, costs[i]);
    out += "),";
  }
  out += "]\n";
}

}  // namespace

std::size_t SparseGraph::ArcKeyHash::operator()(const ArcKey& key) const noexcept {
  // splitmix64 finaliser over a mix of both ends: vertex numbers are small and dense, so the
  // plain values would cluster in the low bits.
  std::uint64_t x = key.tail * 0x9E3779B97F4A7C15ULL ^ (key.head + 0x632BE59BD9B4E019ULL);
  x ^= x >> 30;
  x *= 0xBF58476D1CE4E5B9ULL;
  x ^= x >> 27;
  x *= 0x94D049BB133111EBULL;
  x ^= x >> 31;
  return static_cast<std::size_t>(x);
}

bool SparseGraph::HasVertex(std::uint64_t v) const {
  return v < adjacency_.size();
}

bool SparseGraph::HasArc(std::uint64_t u, std::uint64_t v) const {
  return FindArc(u, v) != nullptr;
}

std::vector<std::uint64_t> SparseGraph::GetSuccs(std::uint64_t v) const {
  return HasVertex(v) ? adjacency_[v].succs : std::vector<std::uint64_t>{};
}

std::vector<std::uint64_t> SparseGraph::GetPreds(std::uint64_t v) const {
  return HasVertex(v) ? adjacency_[v].preds : std::vector<std::uint64_t>{};
}

CostVector SparseGraph::GetArcCost(std::uint64_t u, std::uint64_t v) const {
  const ArcSlots* slots = FindArc(u, v);
  return slots != nullptr ? adjacency_[u].succ_costs[slots->succ] : CostVector{};
}

std::vector<CostVector> SparseGraph::GetSuccCosts(std::uint64_t v) const {
  return HasVertex(v) ? adjacency_[v].succ_costs : std::vector<CostVector>{};
}

std::vector<CostVector> SparseGraph::GetPredCosts(std::uint64_t v) const {
  return HasVertex(v) ? adjacency_[v].pred_costs : std::vector<CostVector>{};
}

std::uint64_t SparseGraph::NumVertex() const {
  return adjacency_.size();
}

std::uint64_t SparseGraph::NumArc() const {
  return arc_counter_;
}

std::uint64_t SparseGraph::NumEdge() const {
  if (arc_counter_ % 2 != 0) {
    Fail("[ERROR] SparseGraph::NumEdge is not an integer but a fraction");
  }
  return arc_counter_ / 2;
}

std::uint64_t SparseGraph::GetCostDim() const {
  return cdim_;
}

std::vector<std::uint64_t> SparseGraph::GetAllVertices() const {
  std::vector<std::uint64_t> vertices(adjacency_.size());
  for (std::size_t v = 0; v < vertices.size(); ++v) {
    vertices[v] = v;
  }
  return vertices;
}

void SparseGraph::AddVertex(std::uint64_t v) {
  if (!HasVertex(v)) {
    adjacency_.resize(VertexCountFor(v));
  }
}

void SparseGraph::AddEdge(std::uint64_t u, std::uint64_t v, const CostVector& cost) {
  AddArc(u, v, cost);
  AddArc(v, u, cost);
}

void SparseGraph::AddArc(std::uint64_t u, std::uint64_t v, const CostVector& cost) {
  AddVertex(u);
  AddVertex(v);
  if (cdim_ == 0) {
    cdim_ = cost.size();
  } else if (cost.size() != cdim_) {
    Fail("[ERROR] SparseGraph::AddArc cdim does not match: " + std::to_string(cdim_) +
             " != " + std::to_string(cost.size()),
         "[ERROR] SparseGraph::AddArc cdim does not match");
  }
  // The successor and predecessor entries of an arc are always created together, so the arc
  // is either in both lists (replace both first entries) or in neither (append to both).
  if (const ArcSlots* slots = FindArc(u, v)) {
    adjacency_[u].succ_costs[slots->succ] = cost;
    adjacency_[v].pred_costs[slots->pred] = cost;
    return;
  }
  AppendArc(u, v, cost);
  arc_counter_ += 2;
}

void SparseGraph::CreateFromEdges(const std::vector<std::uint64_t>& tails,
                                  const std::vector<std::uint64_t>& heads,
                                  const std::vector<CostVector>& costs) {
  CreateFrom(tails, heads, costs, true);
}

void SparseGraph::CreateFromArcs(const std::vector<std::uint64_t>& tails,
                                 const std::vector<std::uint64_t>& heads,
                                 const std::vector<CostVector>& costs) {
  CreateFrom(tails, heads, costs, false);
}

void SparseGraph::CreateFrom(const std::vector<std::uint64_t>& tails,
                             const std::vector<std::uint64_t>& heads,
                             const std::vector<CostVector>& costs, bool both_directions) {
  if (heads.size() != tails.size() || costs.size() != tails.size()) {
    throw std::invalid_argument("SparseGraph: tails, heads and costs differ in length");
  }
  std::uint64_t largest = 0;
  for (std::size_t i = 0; i < tails.size(); ++i) {
    largest = std::max({largest, tails[i], heads[i]});
  }
  const std::size_t count = VertexCountFor(largest);
  adjacency_.clear();
  arc_index_.clear();
  adjacency_.resize(count);
  for (std::size_t i = 0; i < tails.size(); ++i) {
    AppendArc(tails[i], heads[i], costs[i]);
    if (both_directions) {
      AppendArc(heads[i], tails[i], costs[i]);
    }
  }
}

void SparseGraph::ChangeCostDim(std::uint64_t cdim, double fill) {
  for (Adjacency& adjacency : adjacency_) {
    for (CostVector& cost : adjacency.succ_costs) {
      cost.resize(cdim, fill);
    }
    for (CostVector& cost : adjacency.pred_costs) {
      cost.resize(cdim, fill);
    }
  }
  cdim_ = cdim;
}

bool SparseGraph::SetArcCost(std::uint64_t u, std::uint64_t v, const CostVector& cost) {
  if (cost.size() != cdim_) {
    Fail(
        "[ERROR] SparseGraph::SetArcCost new edge cost dimension does not match! Maybe call "
        "ChangeCostDim() at first.");
  }
  if (!HasVertex(u) || !HasVertex(v)) {
    Fail("[ERROR] SparseGraph::SetArcCost vertex does not exist!");
  }
  const ArcSlots* slots = FindArc(u, v);
  if (slots == nullptr) {
    Fail("[ERROR] SparseGraph::SetArcCost arc does not exist!");
  }
  adjacency_[u].succ_costs[slots->succ] = cost;
  adjacency_[v].pred_costs[slots->pred] = cost;
  return true;
}

std::string SparseGraph::ToStr() const {
  std::string out = "=== SparseGraph Begin ===\n |V| = ";
  out += std::to_string(adjacency_.size());
  out += " outgoing edges \n";
  for (std::size_t v = 0; v < adjacency_.size(); ++v) {
    AppendAdjacencyLine(out, v, adjacency_[v].succs, adjacency_[v].succ_costs);
  }
  out += " incoming edges \n";
  for (std::size_t v = 0; v < adjacency_.size(); ++v) {
    AppendAdjacencyLine(out, v, adjacency_[v].preds, adjacency_[v].pred_costs);
  }
  out += "=== SparseGraph End ===";
  return out;
}

void SparseGraph::AppendArc(std::uint64_t u, std::uint64_t v, const CostVector& cost) {
  Adjacency& tail = adjacency_[u];
  Adjacency& head = adjacency_[v];
  arc_index_.try_emplace(ArcKey{u, v}, ArcSlots{tail.succs.size(), head.preds.size()});
  tail.succs.push_back(v);
  tail.succ_costs.push_back(cost);
  head.preds.push_back(u);
  head.pred_costs.push_back(cost);
}

const SparseGraph::ArcSlots* SparseGraph::FindArc(std::uint64_t u, std::uint64_t v) const {
  const auto it = arc_index_.find(ArcKey{u, v});
  return it != arc_index_.end() ? &it->second : nullptr;
}

}  // namespace plenro
