#pragma once
// What a test reads back of the settings file the program wrote. Header only; test code only.

#include "xml/XmlDocument.h"

#include <filesystem>
#include <string>

namespace zs::test {

/// The value of "Element" or "Element.attribute" in a settings file; "" when missing.
inline std::string settingIn(const std::filesystem::path& file, const std::string& path)
{
    auto doc = xml::Document::loadFile(file);
    if (!doc)
        return "<no file>";
    const auto dot = path.find('.');
    const xml::Element e = doc->root().child(path.substr(0, dot));
    if (e.isNull())
        return "";
    return dot == std::string::npos ? e.text() : e.attribute(path.substr(dot + 1)).value_or("");
}

} // namespace zs::test
