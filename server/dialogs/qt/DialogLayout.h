#pragma once
// The proportional layout on the dialogs' Qt windows: every widget below the window that
// carries a letter code in its "zsTag" property is recorded at load and placed again on each
// resize by the program's one layout rule (OpzioniLayout). Nested controls keep coordinates
// relative to their own parent, and are rescaled by the window's size like the others.

class QWidget;

namespace zs::dialogs {

/// Records the window's design size and every tagged widget's design geometry in the tags.
/// Run once, at the end of the window's load.
void saveLayoutProperties(QWidget& window);
/// Places every tagged widget for the window's current size; a widget whose tag is empty or
/// not well formed stays where it is.
void applyLayoutProperties(QWidget& window);

} // namespace zs::dialogs
