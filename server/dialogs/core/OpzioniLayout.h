#pragma once
// The proportional layout of the options dialog, in the terms the dialog uses: the shell's
// layout rule (design geometry kept as text in the tags, rescaled on resize by each control's
// letter code "LTW", "rb", "WHL", …), and how the dialog stores a chosen file's name.

#include "program/ProportionalLayout.h"

#include <optional>
#include <string>

namespace zs::dialogs {

using Geometry = program::Geometry;

/// " 0.0." width "." height: the window's tag after SaveProperties.
std::string windowLayoutTag(double width, double height);
/// The control's tag with "@" left "." top "." width "." height appended.
std::string controlLayoutTag(const std::string& tag, const Geometry& g);

/// The control's new geometry for the window's current size; nothing when the control does not
/// take part (empty tag), `current` when its tag or the window's tag is not well formed. Letters
/// other than A L T W H r b w h are ignored; only the first recorded geometry counts.
std::optional<Geometry> applyLayout(const std::string& controlTag, const std::string& windowTag, double currentWidth,
                                    double currentHeight, const Geometry& current);

/// A path the settings keep: the bare file name when the file lies in the program folder
/// (compared without regard to case), else the full path.
std::string settingsFileName(const std::string& chosenPath, const std::string& programFolder);

} // namespace zs::dialogs
