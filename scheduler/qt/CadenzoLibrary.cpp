#include "CadenzoLibrary.h"

#include "CadenzoControl.h"

#include "automation/ClassRegistry.h"

namespace zs::cadenzo {

void registerClasses(automation::ClassRegistry& registry)
{
    registry.add({kProgId, kClsid, "_CadenzoControl", "{6A1C4E21-3B7D-4F0A-9C55-2D8E61F0A101}", "__CadenzoControl",
                  "{6A1C4E22-3B7D-4F0A-9C55-2D8E61F0A101}", [] { return std::make_unique<CadenzoControl>(); }});
}

} // namespace zs::cadenzo
