#pragma once
// The proportional layout of the resizable windows: each control carries a code of letters in
// its tag; the window records its design size and each control's design geometry in the tags
// at load time and recomputes every geometry from them on each resize, so repeated resizing
// never accumulates rounding. Qt-free: the windows apply the results to their widgets.

#include <optional>
#include <string>

namespace zs::program {

/// A control's left, top, width and height in twips.
struct Geometry {
    double left = 0, top = 0, width = 0, height = 0;
    friend bool operator==(const Geometry&, const Geometry&) = default;
};

/// The window tag SaveProperties writes: " 0.0." width "." height.
std::string windowTag(long width, long height);
/// The design width and height of a window tag; nothing when the tag does not hold them.
std::optional<std::pair<double, double>> windowDesignSize(const std::string& tag);

/// A control tag with one more geometry appended: code "@" left "." top "." width "." height.
/// An empty tag stays empty (the control takes no part).
std::string appendGeometry(const std::string& tag, long left, long top, long width, long height);

/// The geometry a control takes at window size `width` × `height`: each letter of the tag's code
/// (L T W H A r b w h) sets its property from the first recorded design geometry; other letters
/// are ignored. Nothing for an empty tag; `current` unchanged when the tag or the window tag lacks
/// design values.
std::optional<Geometry> layoutControl(const std::string& windowTag, const std::string& controlTag,
                                      const Geometry& current, double width, double height);

} // namespace zs::program
