#pragma once
// The MDI main window: the category menu on the left, the other windows to its right.

#include <QMainWindow>

#include <functional>

class QMdiArea;
class QMdiSubWindow;

namespace zs::flatui {
class MenuButtonWidget;
}

namespace zs::shell {

class frmMenu;

class mdiGlobal : public QMainWindow {
  public:
    /// What the main window asks of the program around it.
    struct Hooks {
        std::function<void(int entry)> menuEntry; ///< a Moduli or category-menu entry, 1 to 5
        std::function<void()> closing;            ///< the window is closing: the program ends
        std::function<bool()> livesInTray;        ///< minimized, the window hides behind its tray icon
        std::function<void()> restored;           ///< back from minimized, its windows arranged
    };

    explicit mdiGlobal(Hooks hooks);
    QMdiArea& area() { return *m_area; }
    QMdiSubWindow* addChild(QWidget* window, bool menu = false);
    /// Places the menu column and the child windows (DisponiFinestre): at every change of the
    /// area's size and whenever the window comes back from minimized or hidden, so no way back
    /// from the tray leaves them at a size of before.
    void DisponiFinestre();
    /// Shrinks and moves the window, frame included, into the screen's available area (a
    /// small or scaled screen): its bottom and its buttons stay reachable.
    void fitToScreen();
    /// Shows the window in the normal state fitted to the screen's available area; fitted again
    /// once the window manager has put its frame around it (the frame's size is known only then).
    void showFitted();
    flatui::MenuButtonWidget* menuButton() const;
    /// Creates the category menu and puts it in its column.
    void buildMenu();

  protected:
    void closeEvent(QCloseEvent* e) override;
    void changeEvent(QEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

  private:
    Hooks m_hooks;
    QMdiArea* m_area;
    QMdiSubWindow* m_menuSub = nullptr;
    frmMenu* m_menu = nullptr;
};

} // namespace zs::shell
