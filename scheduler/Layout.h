#pragma once
// Where the scheduler control puts its list and icons when it is resized, in twips: the list
// fills the width left of the icons, the icons stay at the right edge.

namespace zs::cadenzo {

struct ControlLayout {
    int listWidth = 0;
    int columns[4] = {};
    int iconLeft = 0;
};

/// `width` and `iconWidth` in twips. Heights and vertical positions never change.
ControlLayout layoutFor(int width, int iconWidth);

} // namespace zs::cadenzo
