#pragma once
// What the program dialog tests share: the settings file read back, and the windows' children
// found and clicked by name. Header only; test code only.

#include "flatui/widgets/FlatWidgets.h"
#include "xml/XmlDocument.h"

#include <QWidget>
#include <gtest/gtest.h>

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

/// The child of `w` called `name`; a test failure when there is none.
template <class W> W* child(QWidget* w, const char* name)
{
    auto* found = w->findChild<W*>(name);
    EXPECT_NE(found, nullptr) << name;
    return found;
}

/// Presses the flat button `button` of `w` as a mouse click does.
inline void click(QWidget* w, const char* button)
{
    child<flatui::FlatButtonWidget>(w, button)->model().click();
}

} // namespace zs::test
