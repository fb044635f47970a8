// TFFBaseComponent: the common base of the engine's components (logger,
// probe, player, encoder).
#pragma once

#include <string>

namespace vidmill {

class TFFBaseComponent {
 public:
  virtual ~TFFBaseComponent() = default;
  // Has no effect at run time.
  std::string About;
  // The component's version text; empty unless the component sets one.
  const std::string& Version() const { return version_; }

 protected:
  TFFBaseComponent() = default;
  explicit TFFBaseComponent(std::string version) : version_(std::move(version)) {}

 private:
  std::string version_;
};

}  // namespace vidmill
