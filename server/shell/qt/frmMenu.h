#pragma once
// The category menu down the main window's left side: one flat menu button whose entries open
// the run window, the options, the secondary options, the cube options and the wizard.

#include <QWidget>

#include <functional>

namespace zs::flatui {
class MenuButtonWidget;
}

namespace zs::shell {

class frmMenu : public QWidget {
  public:
    /// `onEntry` gets the chosen entry, 1 to 5 in the order above.
    explicit frmMenu(std::function<void(int entry)> onEntry, QWidget* parent = nullptr);
    flatui::MenuButtonWidget* menuButton() const { return m_menuButton; }

  private:
    flatui::MenuButtonWidget* m_menuButton;
    std::function<void(int)> m_onEntry;
};

} // namespace zs::shell
