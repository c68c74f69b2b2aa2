#pragma once
// What a hosted control asks of its container: the ambient "user mode" (false while a form is
// being designed) and the property-changed notification that marks the host form modified.

#include <string_view>

namespace zs::automation {

class ControlSite {
  public:
    virtual ~ControlSite() = default;
    /// True while the host runs; false at design time.
    virtual bool userMode() const = 0;
    /// Called with the property's bag name after every property let or set.
    virtual void propertyChanged(std::string_view bagName) = 0;
};

/// A run-time host that ignores notifications; a control uses it until the host sets its own.
class NullSite : public ControlSite {
  public:
    bool userMode() const override { return true; }
    void propertyChanged(std::string_view) override {}
};

} // namespace zs::automation
