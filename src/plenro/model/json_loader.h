#pragma once

#include <nlohmann/json.hpp>

#include "plenro/model/problem.h"

namespace plenro {

// Fills a freshly constructed problem from a parsed instance document. Every fault in the
// document throws nlohmann::json's own exception; the problem is then partly filled.
void load_problem(const nlohmann::json& document, Problem& problem);

}  // namespace plenro
