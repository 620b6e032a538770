#include "plenro/model/json_loader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <deque>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

namespace plenro {
namespace {

using nlohmann::json;
using Pairs = std::vector<NodePair>;

constexpr std::uint64_t kMaxId = std::numeric_limits<std::uint64_t>::max();

Problem Load(const std::string& text) {
  Problem problem;
  load_problem(json::parse(text), problem);
  return problem;
}

// The what() text of whatever load_problem throws for the document; empty when it loads.
std::string LoadError(const json& document) {
  Problem problem;
  try {
    load_problem(document, problem);
  } catch (const json::exception& error) {
    return error.what();
  }
  return "";
}

struct FaultCase {
  const char* name;
  const char* document;
  const char* message;
};

void PrintTo(const FaultCase& c, std::ostream* os) {
  *os << c.name;
}

std::string FaultName(const testing::TestParamInfo<FaultCase>& info) {
  return info.param.name;
}

class LoaderFaultTest : public testing::TestWithParam<FaultCase> {};

TEST_P(LoaderFaultTest, ThrowsTheLibraryMessage) {
  EXPECT_EQ(LoadError(json::parse(GetParam().document)), GetParam().message) << GetParam().document;
}

INSTANTIATE_TEST_SUITE_P(
    MissingKeys, LoaderFaultTest,
    testing::Values(
        FaultCase{"MissingNodes", R"({"agents": []})",
                  "[json.exception.out_of_range.403] key 'nodes' not found"},
        FaultCase{"MissingNodeId", R"({"nodes": [{"x": 0, "y": 0, "z": 0}], "agents": []})",
                  "[json.exception.out_of_range.403] key 'id' not found"},
        FaultCase{"MissingNodeX", R"({"nodes": [{"id": 0, "y": 0, "z": 0}], "agents": []})",
                  "[json.exception.out_of_range.403] key 'x' not found"},
        FaultCase{"MissingAgentType",
                  R"({"nodes": [], "agents": [{"id": 1, "start_node": 0, "end_node": 0}]})",
                  "[json.exception.out_of_range.403] key 'type' not found"},
        FaultCase{"MissingAgentEndNode",
                  R"({"nodes": [], "agents": [{"id": 1, "type": "A", "start_node": 0}]})",
                  "[json.exception.out_of_range.403] key 'end_node' not found"},
        FaultCase{"MissingConstraintKind",
                  R"({"nodes": [], "agents": [], "constraints": [{"items": []}]})",
                  "[json.exception.out_of_range.403] key 'kind' not found"},
        FaultCase{"MissingAssignmentTypes", R"({"nodes": [], "agents": [],
                      "constraints": [{"kind": "assignment", "items": [{"node": 1}]}]})",
                  "[json.exception.out_of_range.403] key 'types' not found"},
        FaultCase{"MissingAssignmentNode", R"({"nodes": [], "agents": [],
                      "constraints": [{"kind": "assignment", "items": [{"types": []}]}]})",
                  "[json.exception.out_of_range.403] key 'node' not found"},
        FaultCase{"MissingWindowEnd", R"({"nodes": [], "agents": [], "constraints":
                      [{"kind": "timewindow", "items": [{"node": 1, "start": 0}]}]})",
                  "[json.exception.out_of_range.403] key 'end' not found"},
        FaultCase{"MissingPrecedenceAfter", R"({"nodes": [], "agents": [], "constraints":
                      [{"kind": "sequence", "precedence": [{"before": 1}]}]})",
                  "[json.exception.out_of_range.403] key 'after' not found"}),
    FaultName);

INSTANTIATE_TEST_SUITE_P(
    NotAnObject, LoaderFaultTest,
    testing::Values(FaultCase{"DocumentIsArray", R"([])",
                              "[json.exception.type_error.304] cannot use at() with array"},
                    FaultCase{"NodeIsNumber", R"({"nodes": [1], "agents": []})",
                              "[json.exception.type_error.304] cannot use at() with number"},
                    // A single value stands for a one-element section.
                    FaultCase{"NodesSectionIsNumber", R"({"nodes": 7, "agents": []})",
                              "[json.exception.type_error.304] cannot use at() with number"},
                    FaultCase{"AgentsSectionIsString", R"({"nodes": [], "agents": "agent"})",
                              "[json.exception.type_error.304] cannot use at() with string"},
                    FaultCase{"ConstraintIsNull",
                              R"({"nodes": [], "agents": [], "constraints": [null]})",
                              "[json.exception.type_error.304] cannot use at() with null"},
                    FaultCase{"WindowItemIsBoolean", R"({"nodes": [], "agents": [],
                      "constraints": [{"kind": "timewindow", "items": [true]}]})",
                              "[json.exception.type_error.304] cannot use at() with boolean"},
                    FaultCase{"PrecedenceIsArray", R"({"nodes": [], "agents": [],
                      "constraints": [{"kind": "sequence", "precedence": [[1, 2]]}]})",
                              "[json.exception.type_error.304] cannot use at() with array"},
                    FaultCase{"OptionsIsArray", R"({"nodes": [], "agents": [], "options": []})",
                              "[json.exception.type_error.306] cannot use value() with array"},
                    FaultCase{"OptionsIsNull", R"({"nodes": [], "agents": [], "options": null})",
                              "[json.exception.type_error.306] cannot use value() with null"},
                    FaultCase{"OptionsIsString",
                              R"({"nodes": [], "agents": [], "options": "fast"})",
                              "[json.exception.type_error.306] cannot use value() with string"}),
    FaultName);

INSTANTIATE_TEST_SUITE_P(
    WrongType, LoaderFaultTest,
    testing::Values(
        FaultCase{"NodeIdBoolean",
                  R"({"nodes": [{"id": true, "x": 0, "y": 0, "z": 0}], "agents": []})",
                  "[json.exception.type_error.302] type must be number, but is boolean"},
        FaultCase{"NodeXString",
                  R"({"nodes": [{"id": 0, "x": "1", "y": 0, "z": 0}], "agents": []})",
                  "[json.exception.type_error.302] type must be number, but is string"},
        FaultCase{"NodeDemandNull",
                  R"({"nodes": [{"id": 0, "x": 0, "y": 0, "z": 0, "demand": null}],
                      "agents": []})",
                  "[json.exception.type_error.302] type must be number, but is null"},
        FaultCase{"NodeTypeNumber",
                  R"({"nodes": [{"id": 0, "x": 0, "y": 0, "z": 0, "type": 1}], "agents": []})",
                  "[json.exception.type_error.302] type must be string, but is number"},
        FaultCase{"AgentTypeNumber", R"({"nodes": [],
                      "agents": [{"id": 1, "type": 2, "start_node": 0, "end_node": 0}]})",
                  "[json.exception.type_error.302] type must be string, but is number"},
        FaultCase{"AgentStartNodeString", R"({"nodes": [],
                      "agents": [{"id": 1, "type": "A", "start_node": "0", "end_node": 0}]})",
                  "[json.exception.type_error.302] type must be number, but is string"},
        FaultCase{"AgentCapacityString",
                  R"({"nodes": [], "agents": [{"id": 1, "type": "A", "start_node": 0,
                      "end_node": 0, "capacity": "5"}]})",
                  "[json.exception.type_error.302] type must be number, but is string"},
        FaultCase{"AgentMaxLengthNull",
                  R"({"nodes": [], "agents": [{"id": 1, "type": "A", "start_node": 0,
                      "end_node": 0, "max_length": null}]})",
                  "[json.exception.type_error.302] type must be number, but is null"},
        FaultCase{"CostMatrixNumber", R"({"nodes": [], "agents": [], "costs": {"A": 1}})",
                  "[json.exception.type_error.302] type must be array, but is number"},
        FaultCase{"CostRowNumber", R"({"nodes": [], "agents": [], "costs": {"A": [[0, 1], 2]}})",
                  "[json.exception.type_error.302] type must be array, but is number"},
        FaultCase{"CostEntryString", R"({"nodes": [], "agents": [], "costs": {"A": [[0, "1"]]}})",
                  "[json.exception.type_error.302] type must be number, but is string"},
        FaultCase{"CostEntryBoolean", R"({"nodes": [], "agents": [], "costs": {"A": [[0, true]]}})",
                  "[json.exception.type_error.302] type must be number, but is boolean"},
        FaultCase{"ConstraintKindNumber",
                  R"({"nodes": [], "agents": [], "constraints": [{"kind": 1}]})",
                  "[json.exception.type_error.302] type must be string, but is number"},
        FaultCase{"AssignmentTypesString", R"({"nodes": [], "agents": [], "constraints":
                      [{"kind": "assignment", "items": [{"node": 1, "types": "A"}]}]})",
                  "[json.exception.type_error.302] type must be array, but is string"},
        FaultCase{"AssignmentTypeNumber", R"({"nodes": [], "agents": [], "constraints":
                      [{"kind": "assignment", "items": [{"node": 1, "types": ["A", 3]}]}]})",
                  "[json.exception.type_error.302] type must be string, but is number"},
        FaultCase{"AssignmentNodeString", R"({"nodes": [], "agents": [], "constraints":
                      [{"kind": "assignment", "items": [{"node": "1", "types": []}]}]})",
                  "[json.exception.type_error.302] type must be number, but is string"},
        FaultCase{"WindowStartBoolean", R"({"nodes": [], "agents": [], "constraints":
                      [{"kind": "timewindow", "items": [{"node": 1, "start": true, "end": 2}]}]})",
                  "[json.exception.type_error.302] type must be number, but is boolean"},
        FaultCase{"PrecedenceBeforeObject", R"({"nodes": [], "agents": [], "constraints":
                      [{"kind": "sequence", "precedence": [{"before": {}, "after": 1}]}]})",
                  "[json.exception.type_error.302] type must be number, but is object"},
        FaultCase{"PrecedenceTypeNumber",
                  R"({"nodes": [], "agents": [], "constraints": [{"kind": "sequence",
                      "precedence": [{"before": 1, "after": 2, "type": 5}]}]})",
                  "[json.exception.type_error.302] type must be string, but is number"},
        FaultCase{"ReturnToEndNumber",
                  R"({"nodes": [], "agents": [], "options": {"return_to_end": 1}})",
                  "[json.exception.type_error.302] type must be boolean, but is number"},
        FaultCase{"ObjectiveNumber", R"({"nodes": [], "agents": [], "options": {"objective": 0}})",
                  "[json.exception.type_error.302] type must be string, but is number"},
        FaultCase{"TimeLimitString",
                  R"({"nodes": [], "agents": [], "options": {"time_limit": "10"}})",
                  "[json.exception.type_error.302] type must be number, but is string"}),
    FaultName);

// Reals that would not survive the conversion to an integer are refused, naming key and value.
INSTANTIATE_TEST_SUITE_P(
    RealsOutOfRange, LoaderFaultTest,
    testing::Values(
        FaultCase{"NegativeRealId",
                  R"({"nodes": [{"id": -1.5, "x": 0, "y": 0, "z": 0}], "agents": []})",
                  "[json.exception.out_of_range.406] key 'id' has value -1.5, which is not a "
                  "valid id (a non-negative integer below 2^64)"},
        FaultCase{"NegativeWholeRealId",
                  R"({"nodes": [{"id": -1.0, "x": 0, "y": 0, "z": 0}], "agents": []})",
                  "[json.exception.out_of_range.406] key 'id' has value -1.0, which is not a "
                  "valid id (a non-negative integer below 2^64)"},
        FaultCase{"IdAt2To64",
                  R"({"nodes": [{"id": 18446744073709551616.0, "x": 0, "y": 0, "z": 0}],
                      "agents": []})",
                  "[json.exception.out_of_range.406] key 'id' has value 1.8446744073709552e+19, "
                  "which is not a valid id (a non-negative integer below 2^64)"},
        FaultCase{"StartNode1e30",
                  R"({"nodes": [], "agents": [{"id": 1, "type": "A", "start_node": 1e30,
                      "end_node": 0}]})",
                  "[json.exception.out_of_range.406] key 'start_node' has value 1e+30, which is "
                  "not a valid id (a non-negative integer below 2^64)"},
        FaultCase{"NegativeRealEndNode",
                  R"({"nodes": [], "agents": [{"id": 1, "type": "A", "start_node": 0,
                      "end_node": -3.25}]})",
                  "[json.exception.out_of_range.406] key 'end_node' has value -3.25, which is "
                  "not a valid id (a non-negative integer below 2^64)"},
        FaultCase{"NegativeRealAssignmentNode", R"({"nodes": [], "agents": [], "constraints":
                      [{"kind": "assignment", "items": [{"node": -2.5, "types": []}]}]})",
                  "[json.exception.out_of_range.406] key 'node' has value -2.5, which is not a "
                  "valid id (a non-negative integer below 2^64)"},
        FaultCase{"NegativeRealPrecedenceAfter",
                  R"({"nodes": [], "agents": [], "constraints": [{"kind": "sequence",
                      "precedence": [{"before": 1, "after": -7.5}]}]})",
                  "[json.exception.out_of_range.406] key 'after' has value -7.5, which is not a "
                  "valid id (a non-negative integer below 2^64)"},
        FaultCase{"CapacityAt2To31",
                  R"({"nodes": [], "agents": [{"id": 1, "type": "A", "start_node": 0,
                      "end_node": 0, "capacity": 2147483648.0}]})",
                  "[json.exception.out_of_range.406] key 'capacity' has value 2147483648.0, "
                  "which is not a valid 32-bit integer (from -2^31 to 2^31-1)"},
        FaultCase{"MaxLengthBelowMinus2To31",
                  R"({"nodes": [], "agents": [{"id": 1, "type": "A", "start_node": 0,
                      "end_node": 0, "max_length": -2147483649.0}]})",
                  "[json.exception.out_of_range.406] key 'max_length' has value -2147483649.0, "
                  "which is not a valid 32-bit integer (from -2^31 to 2^31-1)"}),
    FaultName);

// Integers too large for a 32-bit limit are refused too, instead of keeping their low 32 bits
// (2^32 + 5 would become 5, and 2^40 would become 0, no limit at all).
INSTANTIATE_TEST_SUITE_P(
    IntegersOutOfRange, LoaderFaultTest,
    testing::Values(
        FaultCase{"MaxLengthTwoToThe32Plus5",
                  R"({"nodes": [], "agents": [{"id": 1, "type": "A", "start_node": 0,
                      "end_node": 0, "max_length": 4294967301}]})",
                  "[json.exception.out_of_range.406] key 'max_length' has value 4294967301, "
                  "which is not a valid 32-bit integer (from -2^31 to 2^31-1)"},
        FaultCase{"MaxLengthTwoToThe40",
                  R"({"nodes": [], "agents": [{"id": 1, "type": "A", "start_node": 0,
                      "end_node": 0, "max_length": 1099511627776}]})",
                  "[json.exception.out_of_range.406] key 'max_length' has value 1099511627776, "
                  "which is not a valid 32-bit integer (from -2^31 to 2^31-1)"},
        FaultCase{"CapacityTwoToThe31",
                  R"({"nodes": [], "agents": [{"id": 1, "type": "A", "start_node": 0,
                      "end_node": 0, "capacity": 2147483648}]})",
                  "[json.exception.out_of_range.406] key 'capacity' has value 2147483648, "
                  "which is not a valid 32-bit integer (from -2^31 to 2^31-1)"},
        FaultCase{"CapacityBelowMinusTwoToThe31",
                  R"({"nodes": [], "agents": [{"id": 1, "type": "A", "start_node": 0,
                      "end_node": 0, "capacity": -2147483649}]})",
                  "[json.exception.out_of_range.406] key 'capacity' has value -2147483649, "
                  "which is not a valid 32-bit integer (from -2^31 to 2^31-1)"},
        FaultCase{"MaxLengthLargestUnsigned",
                  R"({"nodes": [], "agents": [{"id": 1, "type": "A", "start_node": 0,
                      "end_node": 0, "max_length": 18446744073709551615}]})",
                  "[json.exception.out_of_range.406] key 'max_length' has value "
                  "18446744073709551615, which is not a valid 32-bit integer (from -2^31 to "
                  "2^31-1)"},
        FaultCase{"MaxLengthSmallestSigned",
                  R"({"nodes": [], "agents": [{"id": 1, "type": "A", "start_node": 0,
                      "end_node": 0, "max_length": -9223372036854775808}]})",
                  "[json.exception.out_of_range.406] key 'max_length' has value "
                  "-9223372036854775808, which is not a valid 32-bit integer (from -2^31 to "
                  "2^31-1)"}));

TEST(LoaderTest, NonFiniteRealsBuiltInCodeAreRefused) {
  json document = json::parse(R"({"nodes": [{"id": 0, "x": 0, "y": 0, "z": 0}], "agents": []})");
  document["nodes"][0]["id"] = std::nan("");
  EXPECT_EQ(LoadError(document),
            "[json.exception.out_of_range.406] key 'id' has value NaN, which is not a valid id "
            "(a non-negative integer below 2^64)");
  document["nodes"][0]["id"] = 0;
  document["agents"] = json::parse(R"([{"id": 1, "type": "A", "start_node": 0, "end_node": 0}])");
  document["agents"][0]["max_length"] = -std::numeric_limits<double>::infinity();
  EXPECT_EQ(LoadError(document),
            "[json.exception.out_of_range.406] key 'max_length' has value -inf, which is not a "
            "valid 32-bit integer (from -2^31 to 2^31-1)");
}

TEST(LoaderTest, FullDocument) {
  const Problem problem = Load(R"({
    "nodes": [
      {"id": 10, "x": 1.5, "y": -2, "z": 3, "type": "DEPOT"},
      {"id": 20, "x": 0, "y": 0, "z": 0, "type": "depot", "demand": 2.5},
      {"id": 30, "x": 0, "y": 0, "z": 0, "type": "TARGET"},
      {"id": 40, "x": 0, "y": 0, "z": 0}
    ],
    "agents": [
      {"id": 7, "type": "truck", "start_node": 10, "end_node": 20, "capacity": 12,
       "max_length": 99.9},
      {"id": 3, "type": "drone", "start_node": 20, "end_node": 10, "capacity": true},
      {"id": 5, "type": "truck", "start_node": 10, "end_node": 10, "unknown": "ignored"}
    ],
    "costs": {"truck": [[0, 1.5], [2, 0]], "drone": [[0]]},
    "constraints": [
      {"kind": "assignment", "items": [{"node": 30, "types": ["drone", "truck"]}]},
      {"kind": "timewindow", "items": [{"node": 40, "start": 1, "end": 8.5}]}
    ],
    "options": {"return_to_end": false, "objective": "MIN_MAX", "time_limit": 2.5}
  })");

  ASSERT_EQ(problem.nodes().size(), 4u);
  const Node& depot = problem.nodes()[0];
  EXPECT_EQ(depot.id, 10u);
  EXPECT_EQ(depot.position.x, 1.5);
  EXPECT_EQ(depot.position.y, -2.0);
  EXPECT_EQ(depot.position.z, 3.0);
  EXPECT_EQ(depot.type, DEPOT);
  EXPECT_EQ(depot.demand, 0.0);
  // Only the exact string "DEPOT" makes a depot.
  EXPECT_EQ(problem.nodes()[1].type, TARGET);
  EXPECT_EQ(problem.nodes()[1].demand, 2.5);
  EXPECT_EQ(problem.nodes()[2].type, TARGET);
  EXPECT_EQ(problem.nodes()[3].type, TARGET);

  ASSERT_EQ(problem.agents_ordered().size(), 3u);
  const Agent& truck = problem.agents_ordered()[0];
  EXPECT_EQ(truck.id, 7u);
  EXPECT_EQ(truck.type, "truck");
  EXPECT_EQ(truck.start_node, 10u);
  EXPECT_EQ(truck.end_node, 20u);
  EXPECT_EQ(truck.capacity_limit, 12.0);
  EXPECT_EQ(truck.time_limit, 99.0);
  EXPECT_EQ(problem.agents_ordered()[1].capacity_limit, 1.0);
  EXPECT_EQ(problem.agents_ordered()[1].time_limit, 0.0);
  EXPECT_EQ(problem.agents_ordered()[2].capacity_limit, 0.0);
  EXPECT_EQ(problem.type_index.at("truck"), 0u);
  EXPECT_EQ(problem.type_index.at("drone"), 1u);
  EXPECT_EQ(problem.agent_type_index.at(7), 0u);
  EXPECT_EQ(problem.agent_type_index.at(3), 1u);
  EXPECT_EQ(problem.agent_type_index.at(5), 0u);

  EXPECT_EQ(problem.cost_matrices.size(), 2u);
  EXPECT_EQ(problem.cost_matrices.at("truck"), (CostMatrix{{0.0, 1.5}, {2.0, 0.0}}));
  EXPECT_EQ(problem.cost_matrices.at("drone"), (CostMatrix{{0.0}}));

  EXPECT_EQ(problem.assignment_constraint.allowed_types.at(30),
            (std::vector<std::string>{"drone", "truck"}));
  EXPECT_EQ(problem.timewindow_constraint.windows.at(40), (std::pair{1.0, 8.5}));

  EXPECT_FALSE(problem.options().return_to_end);
  EXPECT_EQ(problem.options().objective, MinMax);
  EXPECT_EQ(problem.options().time_limit, 2.5);
}

TEST(LoaderTest, IdConversions) {
  const Problem problem = Load(R"({
    "nodes": [
      {"id": -1, "x": 0, "y": 0, "z": 0},
      {"id": 2.9, "x": 0, "y": 0, "z": 0},
      {"id": -0.9, "x": 0, "y": 0, "z": 0},
      {"id": 18446744073709551615, "x": 0, "y": 0, "z": 0},
      {"id": 18446744073709549568.0, "x": 0, "y": 0, "z": 0},
      {"id": -9223372036854775808, "x": 0, "y": 0, "z": 0}
    ],
    "agents": [{"id": 4.5, "type": "A", "start_node": -2, "end_node": 1e3}]
  })");
  ASSERT_EQ(problem.nodes().size(), 6u);
  EXPECT_EQ(problem.nodes()[0].id, kMaxId);
  EXPECT_EQ(problem.nodes()[1].id, 2u);
  EXPECT_EQ(problem.nodes()[2].id, 0u);
  EXPECT_EQ(problem.nodes()[3].id, kMaxId);
  EXPECT_EQ(problem.nodes()[4].id, 18446744073709549568u);
  EXPECT_EQ(problem.nodes()[5].id, 9223372036854775808u);
  const Agent& agent = problem.agents_ordered()[0];
  EXPECT_EQ(agent.id, 4u);
  EXPECT_EQ(agent.start_node, kMaxId - 1);
  EXPECT_EQ(agent.end_node, 1000u);
  EXPECT_EQ(problem.agent_type_index.at(4), 0u);
}

// capacity and max_length are 32-bit signed integers: integers in range are taken as they are,
// reals are truncated toward zero, booleans count as 1 and 0.
TEST(LoaderTest, Int32Conversions) {
  struct Case {
    const char* value;
    double expected;
  };
  const Case cases[] = {
      {"150.9", 150.0},
      {"-150.9", -150.0},
      {"true", 1.0},
      {"false", 0.0},
      {"-1", -1.0},
      {"2147483647", 2147483647.0},
      {"-2147483648", -2147483648.0},
      {"2147483647.9", 2147483647.0},
      {"-2147483648.9", -2147483648.0},
      {"1e3", 1000.0},
  };
  for (const Case& c : cases) {
    const std::string agent = std::string(R"({"id": 1, "type": "A", "start_node": 0, )") +
                              R"("end_node": 0, "capacity": )" + c.value + R"(, "max_length": )" +
                              c.value + "}";
    const Problem problem = Load(R"({"nodes": [], "agents": [)" + agent + "]}");
    EXPECT_EQ(problem.agents_ordered()[0].capacity_limit, c.expected) << c.value;
    EXPECT_EQ(problem.agents_ordered()[0].time_limit, c.expected) << c.value;
  }
}

TEST(LoaderTest, ObjectiveStrings) {
  struct Case {
    const char* options;
    ObjectiveType expected;
  };
  const Case cases[] = {
      {R"({"objective": "min_max"})", MinMax},
      {R"({"objective": "MIN_MAX"})", MinMax},
      {R"({"objective": "Min_Max"})", MinSum},
      {R"({"objective": "MinMax"})", MinSum},
      {R"({"objective": "min_sum"})", MinSum},
      {R"({"objective": ""})", MinSum},
      {R"({})", MinSum},
  };
  for (const Case& c : cases) {
    const Problem problem =
        Load(std::string(R"({"nodes": [], "agents": [], "options": )") + c.options + "}");
    EXPECT_EQ(problem.options().objective, c.expected) << c.options;
  }
}

TEST(LoaderTest, OptionsDefaults) {
  const Problem empty_options = Load(R"({"nodes": [], "agents": [], "options": {}})");
  EXPECT_TRUE(empty_options.options().return_to_end);
  EXPECT_EQ(empty_options.options().objective, MinSum);
  EXPECT_EQ(empty_options.options().time_limit, 60.0);

  // Without "options" the problem's options are left as the caller had them.
  Problem problem;
  problem.options().time_limit = 5.0;
  problem.options().objective = MinMax;
  load_problem(json::parse(R"({"nodes": [], "agents": []})"), problem);
  EXPECT_EQ(problem.options().time_limit, 5.0);
  EXPECT_EQ(problem.options().objective, MinMax);

  const Problem integer_limit =
      Load(R"({"nodes": [], "agents": [], "options": {"time_limit": 3}})");
  EXPECT_EQ(integer_limit.options().time_limit, 3.0);
}

TEST(LoaderTest, ImproveOptions) {
  struct Case {
    const char* options;
    bool improve;
    std::uint64_t seed;
    std::int64_t iterations;
  };
  const Case cases[] = {
      {R"({})", false, 0, 0},
      {R"({"improve": true})", true, 0, 0},
      {R"({"improve": false, "seed": 7})", false, 7, 0},
      {R"({"improve": true, "seed": 7, "improve_iterations": 500})", true, 7, 500},
      {R"({"seed": 3.9, "improve_iterations": 20.0})", false, 3, 20},
      {R"({"seed": -1})", false, kMaxId, 0},
      {R"({"improve_iterations": 0})", false, 0, 0},
  };
  for (const Case& c : cases) {
    const Problem problem =
        Load(std::string(R"({"nodes": [], "agents": [], "options": )") + c.options + "}");
    EXPECT_EQ(problem.options().improve, c.improve) << c.options;
    EXPECT_EQ(problem.options().seed, c.seed) << c.options;
    EXPECT_EQ(problem.options().improve_iterations, c.iterations) << c.options;
  }
}

INSTANTIATE_TEST_SUITE_P(
    ImproveOptionFaults, LoaderFaultTest,
    testing::Values(
        FaultCase{"ImproveIsNumber", R"({"nodes": [], "agents": [], "options": {"improve": 1}})",
                  "[json.exception.type_error.302] type must be boolean, but is number"},
        FaultCase{"SeedIsString", R"({"nodes": [], "agents": [], "options": {"seed": "7"}})",
                  "[json.exception.type_error.302] type must be number, but is string"},
        FaultCase{"ImproveIterationsIsBoolean",
                  R"({"nodes": [], "agents": [], "options": {"improve_iterations": true}})",
                  "[json.exception.type_error.302] type must be number, but is boolean"},
        FaultCase{"ImproveIterationsNegative",
                  R"({"nodes": [], "agents": [], "options": {"improve_iterations": -5}})",
                  "[json.exception.out_of_range.406] key 'improve_iterations' has value -5, "
                  "which is not a valid iteration count (0 for no limit, or more)"},
        FaultCase{"ImproveIterationsFraction",
                  R"({"nodes": [], "agents": [], "options": {"improve_iterations": 2.5}})",
                  "[json.exception.out_of_range.406] key 'improve_iterations' has value 2.5, "
                  "which is not a valid iteration count (0 for no limit, or more)"}),
    FaultName);

TEST(LoaderTest, ConstraintsMergeLaterEntriesWin) {
  const Problem problem = Load(R"({"nodes": [], "agents": [], "constraints": [
    {"kind": "timewindow", "items": [{"node": 5, "start": 0, "end": 10},
                                     {"node": 6, "start": 1, "end": 2}]},
    {"kind": "assignment", "items": [{"node": 5, "types": ["A"]}]},
    {"kind": "timewindow", "items": [{"node": 5, "start": 3, "end": 4}]},
    {"kind": "assignment", "items": [{"node": 5, "types": ["B", "A"]},
                                     {"node": 6, "types": []}]},
    {"kind": "precedence", "items": [{"node": 9, "start": 0, "end": 1}]},
    {"kind": "assignment"},
    {"kind": "timewindow", "precedence": []},
    {"kind": "sequence", "items": []},
    {"kind": "sequence", "precedence": [
      {"before": 1, "after": 2, "type": "same"},
      {"before": 3, "after": 4, "type": "diff"},
      {"before": 5, "after": 6},
      {"before": 7, "after": 8, "type": "SAME"},
      {"before": 9, "after": 10, "type": "other"}
    ]},
    {"kind": "sequence", "precedence": [{"before": 11, "after": 12, "type": "same"}]}
  ]})");
  const auto& windows = problem.timewindow_constraint.windows;
  EXPECT_EQ(windows.size(), 2u);
  EXPECT_EQ(windows.at(5), (std::pair{3.0, 4.0}));
  EXPECT_EQ(windows.at(6), (std::pair{1.0, 2.0}));
  const auto& allowed = problem.assignment_constraint.allowed_types;
  EXPECT_EQ(allowed.size(), 2u);
  EXPECT_EQ(allowed.at(5), (std::vector<std::string>{"B", "A"}));
  EXPECT_TRUE(allowed.at(6).empty());
  EXPECT_EQ(problem.same_agent_pairs, (Pairs{{1, 2}, {11, 12}}));
  EXPECT_EQ(problem.diff_agent_pairs, (Pairs{{3, 4}}));
  EXPECT_EQ(problem.precedence_pairs, (Pairs{{5, 6}, {7, 8}, {9, 10}}));
}

TEST(LoaderTest, ConstraintMembersAreReplacedEvenWithoutConstraints) {
  Problem problem;
  problem.assignment_constraint.set_assignment(1, {"A"});
  problem.timewindow_constraint.set_timewindow(1, 0.0, 1.0);
  problem.precedence_pairs.emplace_back(1, 2);
  problem.same_agent_pairs.emplace_back(1, 2);
  problem.diff_agent_pairs.emplace_back(1, 2);
  load_problem(json::parse(R"({"nodes": [], "agents": []})"), problem);
  EXPECT_TRUE(problem.assignment_constraint.allowed_types.empty());
  EXPECT_TRUE(problem.timewindow_constraint.windows.empty());
  EXPECT_TRUE(problem.precedence_pairs.empty());
  EXPECT_TRUE(problem.same_agent_pairs.empty());
  EXPECT_TRUE(problem.diff_agent_pairs.empty());
  EXPECT_TRUE(problem.cost_matrices.empty());
  EXPECT_TRUE(problem.nodes().empty());
  EXPECT_TRUE(problem.agents_ordered().empty());
}

TEST(LoaderTest, CostsAsArrayAreNamedByPosition) {
  const Problem problem =
      Load(R"({"nodes": [], "agents": [], "costs": [[[0, 1], [1, 0]], [], [[5]]]})");
  EXPECT_EQ(problem.cost_matrices.size(), 3u);
  EXPECT_EQ(problem.cost_matrices.at("0"), (CostMatrix{{0.0, 1.0}, {1.0, 0.0}}));
  EXPECT_TRUE(problem.cost_matrices.at("1").empty());
  EXPECT_EQ(problem.cost_matrices.at("2"), (CostMatrix{{5.0}}));
}

TEST(LoaderTest, RepeatedCostKeyKeepsTheLastValue) {
  const Problem problem = Load(R"({"nodes": [], "agents": [], "costs": {"A": [[1]], "A": [[2]]}})");
  EXPECT_EQ(problem.cost_matrices.at("A"), (CostMatrix{{2.0}}));
}

// Sections given as objects are walked over their values in ascending key order; null is an
// empty section.
TEST(LoaderTest, SectionsAsObjectsAndNull) {
  const Problem problem = Load(R"({
    "nodes": {"b": {"id": 2, "x": 0, "y": 0, "z": 0}, "a": {"id": 1, "x": 0, "y": 0, "z": 0}},
    "agents": {"z": {"id": 8, "type": "B", "start_node": 1, "end_node": 2},
               "y": {"id": 9, "type": "A", "start_node": 2, "end_node": 1}},
    "costs": null,
    "constraints": {"second": {"kind": "timewindow", "items": {"k": {"node": 1, "start": 5,
                                                                    "end": 6}}},
                    "first": {"kind": "timewindow", "items": [{"node": 1, "start": 0,
                                                               "end": 1}]},
                    "third": {"kind": "assignment", "items": null}}
  })");
  ASSERT_EQ(problem.nodes().size(), 2u);
  EXPECT_EQ(problem.nodes()[0].id, 1u);
  EXPECT_EQ(problem.nodes()[1].id, 2u);
  ASSERT_EQ(problem.agents_ordered().size(), 2u);
  EXPECT_EQ(problem.agents_ordered()[0].id, 9u);
  EXPECT_EQ(problem.type_index.at("A"), 0u);
  EXPECT_EQ(problem.type_index.at("B"), 1u);
  EXPECT_TRUE(problem.cost_matrices.empty());
  // "first" sorts before "second", so the window from "second" is the later one.
  EXPECT_EQ(problem.timewindow_constraint.windows.at(1), (std::pair{5.0, 6.0}));
  EXPECT_TRUE(problem.assignment_constraint.allowed_types.empty());
}

TEST(LoaderTest, NullSectionsAreEmpty) {
  const Problem problem = Load(R"({"nodes": null, "agents": null, "constraints": null})");
  EXPECT_TRUE(problem.nodes().empty());
  EXPECT_TRUE(problem.agents_ordered().empty());
}

TEST(LoaderTest, NodesBeforeAFaultStayLoaded) {
  Problem problem;
  EXPECT_THROW(load_problem(json::parse(R"({"nodes": [{"id": 1, "x": 0, "y": 0, "z": 0},
                                                       {"id": 2, "x": 0}], "agents": []})"),
                            problem),
               json::out_of_range);
  ASSERT_EQ(problem.nodes().size(), 1u);
  EXPECT_EQ(problem.nodes()[0].id, 1u);
}

}  // namespace
}  // namespace plenro

namespace plenro {
namespace {

// The keys of loads, service durations and orders, next to the scalar keys read as before.
TEST(LoaderLoads, AmountsServiceShipmentsAndTheOption) {
  const Problem problem = Load(R"({
    "nodes": [
      {"id": 1, "x": 0, "y": 0, "z": 0, "demand": 4.5},
      {"id": 2, "x": 0, "y": 0, "z": 0, "demand": [3, 2]},
      {"id": 3, "x": 0, "y": 0, "z": 0, "delivery": 7, "pickup": [1, 0, 2], "service": 12.5}
    ],
    "agents": [
      {"id": 9, "type": "t", "start_node": 1, "end_node": 1, "capacity": 50.7},
      {"id": 8, "type": "t", "start_node": 1, "end_node": 1, "capacity": [10, 20, 30, 40]}
    ],
    "constraints": [
      {"kind": "shipment", "items": [{"pickup": 2, "delivery": 3, "amount": [5, 1]},
                                     {"pickup": 3, "delivery": 2}]},
      {"kind": "sequence", "precedence": [{"before": 2, "after": 3, "type": "same"}]}
    ],
    "options": {"enforce_constraints": true}
  })");
  const std::deque<Node>& nodes = problem.nodes();
  EXPECT_EQ(nodes[0].demand, 4.5);
  EXPECT_TRUE(nodes[0].delivery.empty());
  EXPECT_EQ(nodes[1].demand, 3.0);
  EXPECT_EQ(nodes[1].delivery, (Amounts{3, 2}));
  EXPECT_EQ(nodes[2].delivery, (Amounts{7}));
  EXPECT_EQ(nodes[2].pickup, (Amounts{1, 0, 2}));
  EXPECT_EQ(nodes[2].service, 12.5);
  const std::deque<Agent>& agents = problem.agents_ordered();
  EXPECT_EQ(agents[0].capacity_limit, 50.0);  // the scalar, read as it always was
  EXPECT_EQ(agents[0].capacity, (Amounts{50.7}));
  EXPECT_EQ(agents[1].capacity_limit, 0.0);
  EXPECT_EQ(agents[1].capacity, (Amounts{10, 20, 30, 40}));
  ASSERT_EQ(problem.shipments.size(), 2u);
  EXPECT_EQ(problem.shipments[0].pickup, 2u);
  EXPECT_EQ(problem.shipments[0].delivery, 3u);
  EXPECT_EQ(problem.shipments[0].amount, (Amounts{5, 1}));
  EXPECT_TRUE(problem.shipments[1].amount.empty());
  EXPECT_EQ(problem.same_agent_pairs, (Pairs{{2, 3}}));
  EXPECT_TRUE(problem.options().enforce_constraints);
  EXPECT_FALSE(Load(R"({"nodes": [], "agents": []})").options().enforce_constraints);
}

struct AmountFault {
  const char* name;
  const char* node;
  const char* message;
};

void PrintTo(const AmountFault& c, std::ostream* os) {
  *os << c.name;
}

class LoaderAmountFault : public testing::TestWithParam<AmountFault> {};

TEST_P(LoaderAmountFault, NamesTheKeyAndTheNode) {
  const json document =
      json::parse(std::string(R"({"nodes": [{"id": 4, "x": 0, "y": 0, "z": 0, )") +
                  GetParam().node + "}], \"agents\": []}");
  EXPECT_EQ(LoadError(document),
            std::string("[json.exception.out_of_range.406] ") + GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LoaderAmountFault,
    testing::Values(
        AmountFault{"empty_array", R"("pickup": [])",
                    "key 'pickup' of node 4 has 0 entries; give 1 to 4"},
        AmountFault{"not_a_number", R"("delivery": [1, "x"])",
                    "key 'delivery' of node 4 has the entry \"x\", which is not a number"},
        AmountFault{
            "negative", R"("demand": [-1])",
            "key 'demand' of node 4 has the amount -1.0; amounts are finite and not negative"},
        AmountFault{"string", R"("pickup": "5")",
                    "key 'pickup' of node 4 is \"5\"; give a number or an array of numbers"},
        AmountFault{"service_array", R"("service": [1])",
                    "key 'service' of node 4 is [1]; give a number"},
        AmountFault{"both", R"("demand": 1, "delivery": 2)",
                    "node 4 gives both 'demand' and 'delivery'; give one"}),
    [](const testing::TestParamInfo<AmountFault>& info) { return info.param.name; });

}  // namespace
}  // namespace plenro
