#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "plenro/plugins/expansion_plugin.h"

namespace plenro {

// Extends the unfinished agent with the smallest route cost so far; the lowest index wins ties.
class DefaultExpansion : public ExpansionPlugin {
 public:
  std::string Name() const override { return "DefaultExpansion"; }
  // Keeps a copy of the goals; their number is the agent count.
  void Initialize(const std::vector<std::uint64_t>& goals) override;
  // -1 when every agent has finished (or none has a finite cost).
  std::int64_t SelectAgent(const SearchState& state) const override;

  std::uint64_t NumAgents() const { return num_agents_; }

 private:
  std::vector<std::uint64_t> goals_;
  std::uint64_t num_agents_ = 0;
};

}  // namespace plenro
