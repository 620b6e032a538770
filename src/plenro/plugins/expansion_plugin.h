#pragma once

#include <cstdint>

#include "plenro/plugins/plugin_base.h"
#include "plenro/plugins/search_state.h"

namespace plenro {

// Chooses the agent whose route the search extends from a state.
class ExpansionPlugin : public PluginBase {
 public:
  // An agent index below the number of agents, or -1 when no agent can be extended.
  virtual std::int64_t SelectAgent(const SearchState& state) const = 0;
};

}  // namespace plenro
