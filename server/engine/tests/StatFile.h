#pragma once
// Reading stat.xml, the run statistics file, in the engine's tests.

#include "xml/XmlDocument.h"

#include <string>

namespace zs::engine::test {

/// The text of `child` in the <modulo> entry whose <operazione> is `label`; "<none>" when no
/// entry has that label.
inline std::string statEntry(const xml::Document& doc, const std::string& label, const char* child)
{
    for (const auto& m : doc.root().children())
        if (m.child("operazione").text() == label)
            return m.child(child).text();
    return "<none>";
}

} // namespace zs::engine::test
