// The shared library's own entry: everything else comes whole from the widget archive.

#include "CadenzoLibrary.h"

namespace zs::cadenzo {

const char* libraryVersion()
{
    return "1.0";
}

} // namespace zs::cadenzo
