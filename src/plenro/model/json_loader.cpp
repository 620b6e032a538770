#include "plenro/model/json_loader.h"

#include <cmath>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "plenro/model/objective.h"

namespace plenro {

namespace {

using nlohmann::json;

// Reals are converted to integers by truncation toward zero. Where the truncated value does not
// fit the target type the conversion would be undefined, so such values are refused with an
// error that names the key and the value; so are integers that the target type cannot hold.
std::string DescribeNumber(const json& value) {
  if (!value.is_number_float()) {
    return value.dump();
  }
  const double real = value.get<double>();
  if (std::isnan(real)) {
    return "NaN";
  }
  if (std::isinf(real)) {
    return real > 0 ? "inf" : "-inf";
  }
  return value.dump();
}

[[noreturn]] void RejectNumber(const char* key, const json& value, const char* wanted) {
  throw json::out_of_range::create(406,
                                   std::string("key '") + key + "' has value " +
                                       DescribeNumber(value) + ", which is not a valid " + wanted,
                                   nullptr);
}

// A required unsigned 64-bit id. Integers are taken as is (negative ones wrap modulo 2^64),
// reals truncated toward zero when the result is in range; booleans and other types are
// refused by the library.
std::uint64_t ReadId(const json& object, const char* key) {
  const json& value = object.at(key);
  if (value.is_number_float()) {
    // Truncation gives a value in [0, 2^64) exactly for reals in (-1, 2^64); NaN fails both.
    const double real = value.get<double>();
    if (!(real > -1.0 && real < 18446744073709551616.0)) {
      RejectNumber(key, value, "id (a non-negative integer below 2^64)");
    }
  }
  return value.get<std::uint64_t>();
}

// An optional 32-bit signed integer stored as a real: integers are taken as they are, reals are
// truncated toward zero, booleans give 1 or 0. A number outside the 32-bit range is refused
// (cutting it to 32 bits would turn a large limit into a small one, or into none).
double ReadInt32OrZero(const json& object, const char* key) {
  const auto it = object.find(key);
  if (it == object.end()) {
    return 0.0;
  }
  constexpr const char* kWanted = "32-bit integer (from -2^31 to 2^31-1)";
  if (it->is_number_float()) {
    const double real = it->get<double>();
    if (!(real > -2147483649.0 && real < 2147483648.0)) {
      RejectNumber(key, *it, kWanted);
    }
  } else if (it->is_number_unsigned()) {
    if (it->get<std::uint64_t>() > static_cast<std::uint64_t>(INT32_MAX)) {
      RejectNumber(key, *it, kWanted);
    }
  } else if (it->is_number_integer()) {
    const std::int64_t value = it->get<std::int64_t>();
    if (value < INT32_MIN || value > INT32_MAX) {
      RejectNumber(key, *it, kWanted);
    }
  }
  return static_cast<double>(it->get<std::int32_t>());
}

// An amount: a number, or an array of 1 to kMaxLoadDimensions numbers, each finite and not
// negative. `where` names the key and its owner in the message of a refusal.
Amounts ReadAmounts(const json& value, const std::string& where) {
  const auto refuse = [&where](const std::string& why) {
    throw json::out_of_range::create(406, where + " " + why, nullptr);
  };
  Amounts out;
  if (value.is_number()) {
    out.push_back(value.get<double>());
  } else if (value.is_array()) {
    if (value.empty() || value.size() > kMaxLoadDimensions) {
      refuse("has " + std::to_string(value.size()) + " entries; give 1 to " +
             std::to_string(kMaxLoadDimensions));
    }
    for (const json& entry : value) {
      if (!entry.is_number()) {
        refuse("has the entry " + entry.dump() + ", which is not a number");
      }
      out.push_back(entry.get<double>());
    }
  } else {
    refuse("is " + value.dump() + "; give a number or an array of numbers");
  }
  for (const double amount : out) {
    if (!std::isfinite(amount) || amount < 0.0) {
      refuse("has the amount " + json(amount).dump() + "; amounts are finite and not negative");
    }
  }
  return out;
}

std::string NodeKey(const char* key, std::uint64_t id) {
  return std::string("key '") + key + "' of node " + std::to_string(id);
}

// The keys of loads and service of a node; a scalar "demand" is read as it always was.
void LoadNodeLoads(const json& element, Node& node) {
  const auto demand = element.find("demand");
  if (demand != element.end() && demand->is_array()) {
    node.delivery = ReadAmounts(*demand, NodeKey("demand", node.id));
    node.demand = node.delivery.front();
  } else {
    node.demand = element.value("demand", 0.0);
  }
  if (const auto delivery = element.find("delivery"); delivery != element.end()) {
    if (demand != element.end()) {
      throw json::out_of_range::create(
          406, "node " + std::to_string(node.id) + " gives both 'demand' and 'delivery'; give one",
          nullptr);
    }
    node.delivery = ReadAmounts(*delivery, NodeKey("delivery", node.id));
  }
  if (const auto pickup = element.find("pickup"); pickup != element.end()) {
    node.pickup = ReadAmounts(*pickup, NodeKey("pickup", node.id));
  }
  if (const auto service = element.find("service"); service != element.end()) {
    if (!service->is_number()) {
      throw json::out_of_range::create(
          406, NodeKey("service", node.id) + " is " + service->dump() + "; give a number", nullptr);
    }
    node.service = ReadAmounts(*service, NodeKey("service", node.id)).front();
  }
}

void LoadNodes(const json& document, Problem& problem) {
  for (const json& element : document.at("nodes")) {
    Node node;
    node.id = ReadId(element, "id");
    node.position.x = element.at("x").get<double>();
    node.position.y = element.at("y").get<double>();
    node.position.z = element.at("z").get<double>();
    if (element.contains("type")) {
      node.type = element.at("type").get<std::string>() == "DEPOT" ? DEPOT : TARGET;
    }
    LoadNodeLoads(element, node);
    problem.add_node(node);
  }
}

void LoadAgents(const json& document, Problem& problem) {
  for (const json& element : document.at("agents")) {
    Agent agent;
    agent.id = ReadId(element, "id");
    agent.type = element.at("type").get<std::string>();
    agent.start_node = ReadId(element, "start_node");
    agent.end_node = ReadId(element, "end_node");
    const auto capacity = element.find("capacity");
    if (capacity != element.end() && capacity->is_array()) {
      agent.capacity =
          ReadAmounts(*capacity, "key 'capacity' of agent " + std::to_string(agent.id));
    } else {
      agent.capacity_limit = ReadInt32OrZero(element, "capacity");
      // The exact value too, for the loads; the solve checks it where they apply.
      if (capacity != element.end() && capacity->is_number()) {
        agent.capacity = {capacity->get<double>()};
      }
    }
    agent.time_limit = ReadInt32OrZero(element, "max_length");
    problem.add_agent(agent, agent.id);
  }
}

void LoadCosts(const json& document, Problem& problem) {
  if (!document.contains("costs")) {
    return;
  }
  // items() names array elements "0", "1", ..., so an array of matrices is filed under those.
  for (const auto& entry : document.at("costs").items()) {
    problem.cost_matrices.insert_or_assign(entry.key(), entry.value().get<CostMatrix>());
  }
}

// Constraints of one kind merge across constraint objects; a later entry for a node replaces an
// earlier one. The results replace the problem's constraint members even when there are none.
void LoadConstraints(const json& document, Problem& problem) {
  AssignmentConstraint assignment;
  TimeWindowConstraint timewindow;
  std::vector<NodePair> precedence_pairs;
  std::vector<NodePair> same_agent_pairs;
  std::vector<NodePair> diff_agent_pairs;
  std::vector<Shipment> shipments;

  if (document.contains("constraints")) {
    for (const json& constraint : document.at("constraints")) {
      const std::string kind = constraint.at("kind").get<std::string>();
      if (kind == "assignment" && constraint.contains("items")) {
        for (const json& item : constraint.at("items")) {
          const std::uint64_t node = ReadId(item, "node");
          assignment.allowed_types.insert_or_assign(
              node, item.at("types").get<std::vector<std::string>>());
        }
      } else if (kind == "timewindow" && constraint.contains("items")) {
        for (const json& item : constraint.at("items")) {
          const std::uint64_t node = ReadId(item, "node");
          const double start = item.at("start").get<double>();
          const double end = item.at("end").get<double>();
          timewindow.set_timewindow(node, start, end);
        }
      } else if (kind == "sequence" && constraint.contains("precedence")) {
        for (const json& pair : constraint.at("precedence")) {
          const std::uint64_t before = ReadId(pair, "before");
          const std::uint64_t after = ReadId(pair, "after");
          const std::string type = pair.value("type", std::string());
          std::vector<NodePair>& target = type == "same"   ? same_agent_pairs
                                          : type == "diff" ? diff_agent_pairs
                                                           : precedence_pairs;
          target.emplace_back(before, after);
        }
      } else if (kind == "shipment" && constraint.contains("items")) {
        for (const json& item : constraint.at("items")) {
          Shipment shipment;
          shipment.pickup = ReadId(item, "pickup");
          shipment.delivery = ReadId(item, "delivery");
          if (const auto amount = item.find("amount"); amount != item.end()) {
            shipment.amount =
                ReadAmounts(*amount, "key 'amount' of the shipment from node " +
                                         std::to_string(shipment.pickup) + " to node " +
                                         std::to_string(shipment.delivery));
          }
          shipments.push_back(std::move(shipment));
        }
      }
    }
  }

  problem.assignment_constraint = std::move(assignment);
  problem.timewindow_constraint = std::move(timewindow);
  problem.precedence_pairs = std::move(precedence_pairs);
  problem.same_agent_pairs = std::move(same_agent_pairs);
  problem.diff_agent_pairs = std::move(diff_agent_pairs);
  problem.shipments = std::move(shipments);
}

// The improvement's settings; absent keys keep their defaults (Options: off, seed 0, no
// iteration limit).
void LoadImproveOptions(const json& section, Options& options) {
  options.improve = section.value("improve", Options{}.improve);
  if (section.contains("seed")) {
    options.seed = ReadId(section, "seed");
  }
  if (section.contains("improve_iterations")) {
    const json& value = section.at("improve_iterations");
    const double count = value.get<double>();  // refuses what is not a number
    const bool whole = value.is_number_integer() || count == std::floor(count);
    if (!whole || !(count >= 0.0 && count < 9223372036854775808.0)) {
      RejectNumber("improve_iterations", value, "iteration count (0 for no limit, or more)");
    }
    options.improve_iterations =
        value.is_number_integer() ? value.get<std::int64_t>() : static_cast<std::int64_t>(count);
  }
}

void LoadOptions(const json& document, Problem& problem) {
  if (!document.contains("options")) {
    return;
  }
  const json& section = document.at("options");
  // An absent key takes the default of Options, where each default is stated once.
  const Options defaults;
  Options& options = problem.options();
  options.return_to_end = section.value("return_to_end", defaults.return_to_end);
  const std::string objective =
      section.value("objective", std::string(ObjectiveName(defaults.objective)));
  options.objective = ObjectiveFromName(objective);
  options.time_limit = section.value("time_limit", defaults.time_limit);
  LoadImproveOptions(section, options);
  options.enforce_constraints = section.value("enforce_constraints", defaults.enforce_constraints);
}

}  // namespace

void load_problem(const nlohmann::json& document, Problem& problem) {
  LoadNodes(document, problem);
  LoadAgents(document, problem);
  LoadCosts(document, problem);
  LoadConstraints(document, problem);
  LoadOptions(document, problem);
}

}  // namespace plenro
