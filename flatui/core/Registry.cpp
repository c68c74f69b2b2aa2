#include "automation/ClassRegistry.h"
#include "flatui/core/FlatButton.h"
#include "flatui/core/FlatGridControl.h"
#include "flatui/core/FlatTabControl.h"
#include "flatui/core/MenuButtonControl.h"
#include "flatui/core/SplashControl.h"
#include "flatui/core/Tavolex.h"
#include "flatui/core/ToolTipControl.h"

namespace zs::flatui {

namespace {

template <class T> void add(automation::ClassRegistry& reg, const ClassIdentity& id)
{
    const std::string name(id.name);
    reg.add({std::string(kLibraryName) + "." + name, std::string(id.clsid), "_" + name,
             std::string(id.defaultInterfaceId), "__" + name, std::string(id.eventInterfaceId), [] {
                 auto c = std::make_unique<T>();
                 c->initProperties();
                 return std::unique_ptr<automation::Dispatchable>(std::move(c));
             }});
}

} // namespace

void registerClasses(automation::ClassRegistry& registry)
{
    add<FlatButton>(registry, kFlatButtonId);
    add<FlatGridControl>(registry, kFlatGridControlId);
    add<FlatTabControl>(registry, kFlatTabControlId);
    add<MenuButtonControl>(registry, kMenuButtonControlId);
    add<SplashControl>(registry, kSplashControlId);
    add<ToolTipControl>(registry, kToolTipControlId);
}

} // namespace zs::flatui
