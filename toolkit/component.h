#pragma once
// What the application object owns and creates: forms and data modules.

#include <string>

namespace toolkit {

class TComponent {
 public:
  explicit TComponent(std::string name) : name_(std::move(name)) {}
  virtual ~TComponent() = default;
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;
  const std::string& Name() const { return name_; }
  // Runs the creation handler once construction is complete.
  virtual void DoCreate() {}

 private:
  std::string name_;
};

// A non-visual container of components (tables, data sources).
class TDataModule : public TComponent {
 public:
  using TComponent::TComponent;
};

}  // namespace toolkit
