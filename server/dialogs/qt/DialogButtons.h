#pragma once
// The flat push buttons of the dialogs (flbConferma, flbAggiorna, …): a Tavolex FlatButton with
// the dialogs' face, enabled, its caption set. Hosts connect to its model's Click event.

class QWidget;

namespace zs::flatui {
class FlatButtonWidget;
}

namespace zs::dialogs {

/// A flat button child of `parent` named `name`, `width` × `height` pixels.
flatui::FlatButtonWidget* makeFlatButton(QWidget* parent, const char* name, const char* caption, int width = 112,
                                         int height = 30);

} // namespace zs::dialogs
