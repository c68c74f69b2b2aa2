#include "shell/qt/mdiGlobal.h"

#include "shell/qt/frmMenu.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QScrollArea>
#include <QTimer>

#include <algorithm>

namespace zs::shell {

mdiGlobal::mdiGlobal(Hooks hooks)
    : m_hooks(std::move(hooks))
{
    setObjectName("mdiGlobal");
    m_area = new QMdiArea(this);
    m_area->setObjectName("mdiArea");
    m_area->setBackground(QColor(0xEA, 0xF3, 0xFF));
    setCentralWidget(m_area);
    // The area takes its size from the window's layout, which runs only once the window shows
    // (a start in the tray never showed it): the children follow the area, not the window alone.
    m_area->viewport()->installEventFilter(this);
    auto* moduli = menuBar()->addMenu("&Moduli");
    moduli->setObjectName("mModuliMain");
    const char* entries[] = {"&Estrazione", "Opzioni &principali", "Opzioni &Secondarie", "Opzioni &cubi"};
    for (int i = 0; i < 4; ++i) {
        auto* a = moduli->addAction(entries[i]);
        a->setObjectName(QString("mModuli%1").arg(i + 1));
        QObject::connect(a, &QAction::triggered, this, [this, entry = i + 1] { m_hooks.menuEntry(entry); });
    }
    auto* esci = menuBar()->addAction("&Esci");
    esci->setObjectName("mEsci");
    QObject::connect(esci, &QAction::triggered, this, [this] { close(); });
    // The menu column and its opened entries fit; the child windows scroll below their own minimum.
    setMinimumSize(640, 420);
    resize(1000, 680);
}

void mdiGlobal::fitToScreen()
{
    const QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen();
    if (!s)
        return;
    const QRect avail = s->availableGeometry();
    // The window manager's frame is known once the window is shown; before, room for a title
    // bar and borders is kept.
    QMargins frame(4, 30, 4, 4);
    if (isVisible() && frameGeometry() != geometry())
        frame = QMargins(geometry().left() - frameGeometry().left(), geometry().top() - frameGeometry().top(),
                         frameGeometry().right() - geometry().right(), frameGeometry().bottom() - geometry().bottom());
    const QRect room = avail.marginsRemoved(frame);
    if (room.isEmpty())
        return;
    resize(std::min(width(), room.width()), std::min(height(), room.height()));
    // A window's position is its frame's: the whole frame goes inside the available area.
    const int frameWidth = width() + frame.left() + frame.right();
    const int frameHeight = height() + frame.top() + frame.bottom();
    move(std::clamp(x(), avail.left(), avail.right() - frameWidth + 1),
         std::clamp(y(), avail.top(), avail.bottom() - frameHeight + 1));
}

void mdiGlobal::showFitted()
{
    // The normal state first: a window that was maximized or minimized has its normal size back
    // only then, and that is the size that must fit.
    setWindowState(windowState() & ~(Qt::WindowMaximized | Qt::WindowMinimized | Qt::WindowFullScreen));
    fitToScreen();
    show();
    fitToScreen();
    // The window manager frames the window a moment after it is shown, and tells the frame's
    // size only then: fitted again as soon as it is known. Without a window manager no frame
    // ever comes, and the checks end after two seconds.
    auto* framed = new QTimer(this);
    framed->setInterval(20);
    QObject::connect(framed, &QTimer::timeout, this, [this, framed, left = 100]() mutable {
        if (isVisible() && !isMaximized() && frameGeometry() != geometry()) {
            fitToScreen();
            left = 0;
        }
        if (--left <= 0) {
            framed->stop();
            framed->deleteLater();
        }
    });
    framed->start();
}

void mdiGlobal::buildMenu()
{
    m_menu = new frmMenu([this](int entry) { m_hooks.menuEntry(entry); });
    m_menuSub = addChild(m_menu, true);
}

flatui::MenuButtonWidget* mdiGlobal::menuButton() const
{
    return m_menu ? m_menu->menuButton() : nullptr;
}

QMdiSubWindow* mdiGlobal::addChild(QWidget* window, bool menu)
{
    if (menu) {
        auto* sub = m_area->addSubWindow(window, Qt::FramelessWindowHint);
        sub->setObjectName(window->objectName() + "Sub");
        sub->setWindowFlag(Qt::WindowStaysOnTopHint);
        return sub;
    }
    // A child window fills the room right of the menu, but never below its minimum size: in a
    // smaller main window it keeps that size and scrolls, so none of its controls is out of reach.
    auto* scroll = new QScrollArea;
    scroll->setObjectName(window->objectName() + "Scroll");
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    // The frame only scrolls: the focus goes straight to the window's own fields.
    scroll->setFocusPolicy(Qt::NoFocus);
    scroll->setFocusProxy(window);
    auto* sub = m_area->addSubWindow(scroll, Qt::FramelessWindowHint);
    sub->setObjectName(window->objectName() + "Sub");
    // Put in after the sub-window exists, so the window finds its sub-window when it moves in.
    scroll->setWidget(window);
    return sub;
}

void mdiGlobal::DisponiFinestre()
{
    if (isMinimized())
        return;
    const int h = std::max(m_area->viewport()->height(), 1);
    const int w = std::max(m_area->viewport()->width() - 200, 1);
    for (QMdiSubWindow* sub : m_area->subWindowList()) {
        if (sub == m_menuSub)
            sub->setGeometry(0, 0, 200, h);
        else
            sub->setGeometry(200, 0, w, h);
        sub->show();
    }
}

bool mdiGlobal::eventFilter(QObject* watched, QEvent* e)
{
    if (watched == m_area->viewport() && e->type() == QEvent::Resize)
        DisponiFinestre();
    return QMainWindow::eventFilter(watched, e);
}

void mdiGlobal::changeEvent(QEvent* e)
{
    QMainWindow::changeEvent(e);
    if (e->type() != QEvent::WindowStateChange)
        return;
    if (isMinimized()) {
        if (m_hooks.livesInTray())
            QTimer::singleShot(0, this, [this] { hide(); }); // it lives in the tray
        return;
    }
    // Back from minimized: the resizes that came while it was minimized were not followed, and
    // the window manager may tell the new state after the new size.
    DisponiFinestre();
    if (m_hooks.restored)
        m_hooks.restored();
}

void mdiGlobal::closeEvent(QCloseEvent* e)
{
    m_hooks.closing();
    e->accept();
    QCoreApplication::quit();
}

} // namespace zs::shell
