#pragma once
// The library's self-registration: the creatable class Cadenzo.CadenzoControl and its
// identifiers, added to a host's class registry.

#include "CadenzoExport.h"

namespace zs::automation {
class ClassRegistry;
}

namespace zs::cadenzo {

inline constexpr const char* kProgId = "Cadenzo.CadenzoControl";
inline constexpr const char* kClsid = "{6A1C4E20-3B7D-4F0A-9C55-2D8E61F0A101}";

/// Adds the library's classes to `registry`. Instances are widgets: a QApplication must exist.
CADENZO_EXPORT void registerClasses(automation::ClassRegistry& registry);

/// The library's version text.
CADENZO_EXPORT const char* libraryVersion();

} // namespace zs::cadenzo
