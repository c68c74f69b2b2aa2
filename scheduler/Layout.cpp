#include "Layout.h"

#include <algorithm>

namespace zs::cadenzo {

ControlLayout layoutFor(int width, int iconWidth)
{
    ControlLayout l;
    l.listWidth = std::max(0, width - iconWidth - 300);
    l.columns[1] = 1525;
    l.columns[2] = 1769;
    l.columns[3] = 780;
    l.columns[0] = std::max(500, l.listWidth - 30 - l.columns[1] - l.columns[2] - l.columns[3]);
    l.iconLeft = width - iconWidth - 150;
    return l;
}

} // namespace zs::cadenzo
