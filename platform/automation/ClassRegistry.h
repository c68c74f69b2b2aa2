#pragma once
// Creatable classes by ProgID ("Library.Class") and by CLSID, standing in for the self-
// registration of a control library: a library adds its classes with registerClasses(), the
// host creates instances by either name.

#include "automation/Dispatch.h"

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace zs::automation {

struct ClassInfo {
    std::string progId;           ///< "Tavolex.FlatButton"
    std::string clsid;            ///< "{3EBC333B-...}", braces and upper case
    std::string defaultInterface; ///< "_FlatButton"
    std::string defaultInterfaceId;
    std::string eventInterface; ///< "__FlatButton"
    std::string eventInterfaceId;
    std::function<std::unique_ptr<Dispatchable>()> create;
};

class ClassRegistry {
  public:
    /// Adds or replaces the class with the same ProgID.
    void add(ClassInfo info);
    /// Removes every class whose ProgID begins with `libraryPrefix` + "." (unregistration).
    void removeLibrary(std::string_view libraryPrefix);

    /// Both lookups ignore case; a CLSID may be given with or without braces.
    const ClassInfo* byProgId(std::string_view progId) const;
    const ClassInfo* byClsid(std::string_view clsid) const;

    /// A new instance, or nullptr when the name is unknown. The caller owns it.
    std::unique_ptr<Dispatchable> create(std::string_view progIdOrClsid) const;

  private:
    std::vector<ClassInfo> m_classes;
};

} // namespace zs::automation
