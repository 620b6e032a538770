#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "plenro/plugins/post_optimizer_plugin.h"

namespace plenro {

// Runs its members one after the other on the same result, each starting from the routes the
// previous one left; binding it binds every member, in member order. Owns its members and
// destroys them first to last.
class CompositePostOptimizer : public PostOptimizerPlugin {
 public:
  CompositePostOptimizer() = default;
  CompositePostOptimizer(const CompositePostOptimizer&) = delete;
  CompositePostOptimizer& operator=(const CompositePostOptimizer&) = delete;
  ~CompositePostOptimizer() override;

  std::string Name() const override { return "CompositePostOptimizer"; }

  // Appends a member; a null pointer is ignored.
  void AddOptimizer(std::unique_ptr<PostOptimizerPlugin> optimizer);
  std::size_t NumOptimizers() const { return members_.size(); }
  const std::vector<std::unique_ptr<PostOptimizerPlugin>>& Members() const { return members_; }

  void Optimize(Result& result) override;
  void Bind(const InstanceView& view) override;

 private:
  std::vector<std::unique_ptr<PostOptimizerPlugin>> members_;
};

}  // namespace plenro
