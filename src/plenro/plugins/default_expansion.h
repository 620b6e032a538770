#pragma once

#include <cstdint>
#include <string>

#include "plenro/plugins/expansion_plugin.h"
#include "plenro/plugins/view_link.h"

namespace plenro {

// Extends the unfinished agent with the smallest route cost so far; the lowest index wins ties.
// The agents are those of the bound view.
class DefaultExpansion : public ExpansionPlugin {
 public:
  std::string Name() const override { return "DefaultExpansion"; }
  void Bind(const InstanceView& view) override { link_.Link(view); }
  // -1 when every agent has finished (or none has a finite cost).
  std::int64_t SelectAgent(const SearchState& state) const override;

  std::uint64_t NumAgents() const { return link_.view().num_agents(); }

 private:
  ViewLink link_;
};

}  // namespace plenro
