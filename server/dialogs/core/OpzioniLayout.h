#pragma once
// The proportional layout of the options dialog: the window's and the controls' design
// geometry kept as text in their tags, and the rescaling on resize by the letter code of each
// control ("LTW", "rb", "WHL", …). Kept small and Qt-free; the window applies the result.

#include <optional>
#include <string>

namespace zs::dialogs {

struct Geometry {
    double left = 0, top = 0, width = 0, height = 0;
    friend bool operator==(const Geometry&, const Geometry&) = default;
};

/// " 0.0." width "." height: the window's tag after SaveProperties.
std::string windowLayoutTag(double width, double height);
/// The control's tag with "@" left "." top "." width "." height appended.
std::string controlLayoutTag(const std::string& tag, const Geometry& g);

/// The control's new geometry for the window's current size, or nothing when the control does
/// not take part (empty tag) or its tag or the window's tag is not well formed. Letters other
/// than A L T W H r b w h are ignored; only the first recorded geometry counts.
std::optional<Geometry> applyLayout(const std::string& controlTag, const std::string& windowTag, double currentWidth,
                                    double currentHeight, const Geometry& current);

/// A path the settings keep: the bare file name when the file lies in the program folder
/// (compared without regard to case), else the full path.
std::string settingsFileName(const std::string& chosenPath, const std::string& programFolder);

} // namespace zs::dialogs
