#include "flatui/widgets/FlatWidgets.h"

#include <QApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QPainterPath>
#include <QRegion>
#include <QScreen>
#include <QScrollBar>
#include <QThread>
#include <QTimer>

#include <cstdint>
#include <limits>

namespace zs::flatui {

// ---- FlatButton and FlatTabControl: twips, button-like ------------------------------------

FlatButtonWidget::FlatButtonWidget(QWidget* parent)
    : InputControlWidget<FlatButton, InputKind::buttonLike>(parent, kTwipsPerPixel)
{
    // Every let of `enabled` paints the button, so the drawing is where the focus follows it.
    m_model->setInvalidate([this] {
        followDisabledLook();
        update();
    });
}

void FlatButtonWidget::followDisabledLook()
{
    // A button its host disabled takes no focus, by Tab or by click, as any disabled control;
    // it still hears the mouse (a click on it is still reported). A button loaded with
    // "Enabled" False but never disabled by its host looks normal and keeps its Tab stop.
    const bool disabled = m_model->state() == FlatButton::Disabled;
    if (disabled == (focusPolicy() == Qt::NoFocus))
        return;
    setFocusPolicy(disabled ? Qt::NoFocus : Qt::StrongFocus);
    if (disabled && hasFocus() && !focusNextChild())
        clearFocus();
}

FlatTabWidget::FlatTabWidget(QWidget* parent)
    : InputControlWidget<FlatTabControl, InputKind::buttonLike>(parent, kTwipsPerPixel)
{}

FlatButtonWidget::~FlatButtonWidget() = default;
FlatTabWidget::~FlatTabWidget() = default;

bool FlatButtonWidget::keyAction(const QKeyEvent& e)
{
    const int k = e.key();
    if ((k != Qt::Key_Space && k != Qt::Key_Return && k != Qt::Key_Enter) || e.modifiers() & ~Qt::KeypadModifier)
        return false;
    // A held key presses once; a button drawn disabled is not pressed from the keyboard.
    if (!e.isAutoRepeat() && m_model->state() != FlatButton::Disabled)
        m_model->click();
    return true;
}

bool FlatTabWidget::keyAction(const QKeyEvent& e)
{
    FlatTabControl& m = *m_model;
    const int n = m.Tabs();
    const int current = m.IndexSelectedTab();
    int next = 0;
    switch (e.key()) {
    case Qt::Key_Left:
        next = current - 1;
        break;
    case Qt::Key_Right:
        next = current + 1;
        break;
    case Qt::Key_Home:
        next = 1;
        break;
    case Qt::Key_End:
        next = n;
        break;
    default:
        return false;
    }
    if (!m.enabled() || next < 1 || next > n || next == current)
        return true;
    // The same events in the same order as a mouse click on that tab: ShowTab, then Click.
    m.chooseTab(next);
    m.click();
    return true;
}

// ---- FlatGridControl: pixels, with its scroll bar ------------------------------------------------

FlatGridWidget::FlatGridWidget(QWidget* parent)
    : InputControlWidget<FlatGridControl, InputKind::plain>(parent, 1.0)
    , m_scroll(new QScrollBar(Qt::Vertical, this))
{
    m_scroll->hide();
    m_model->setInvalidate([this] {
        syncScrollBar();
        update();
    });
    QObject::connect(m_scroll, &QScrollBar::valueChanged, this, [this](int v) {
        if (!m_syncing)
            m_model->scrolled(v);
    });
}

FlatGridWidget::~FlatGridWidget() = default;

bool FlatGridWidget::keyAction(const QKeyEvent& e)
{
    FlatGridControl& m = *m_model;
    // As in any grid: Home and End (and Ctrl+PageUp, Ctrl+PageDown) reach the first and the last
    // row, in the same column; Ctrl+Home and Ctrl+End the first and the last cell. The moves
    // are clamped to the body, so "far enough" is enough.
    constexpr std::int32_t kFar = std::numeric_limits<std::int32_t>::max();
    const bool control = (e.modifiers() & Qt::ControlModifier) != 0;
    if (e.modifiers() & ~(Qt::KeypadModifier | Qt::ShiftModifier | Qt::ControlModifier))
        return false;
    switch (e.key()) {
    case Qt::Key_Home:
        m.moveCursor(-kFar, control ? -kFar : 0);
        return true;
    case Qt::Key_End:
        m.moveCursor(kFar, control ? kFar : 0);
        return true;
    case Qt::Key_PageUp:
        m.moveCursor(control ? -kFar : -m.pageRows(), 0);
        return true;
    case Qt::Key_PageDown:
        m.moveCursor(control ? kFar : m.pageRows(), 0);
        return true;
    default:
        break;
    }
    if (control)
        return false;
    switch (e.key()) {
    case Qt::Key_Up:
        m.moveCursor(-1, 0);
        return true;
    case Qt::Key_Down:
        m.moveCursor(1, 0);
        return true;
    case Qt::Key_Left:
        m.moveCursor(0, -1);
        return true;
    case Qt::Key_Right:
        m.moveCursor(0, 1);
        return true;
    case Qt::Key_Space:
        // A held key clicks once, as a held mouse button does.
        if (!e.isAutoRepeat())
            m.pressCursor(qtShift(e.modifiers()));
        return true;
    default:
        return false;
    }
}

void FlatGridWidget::focusInEvent(QFocusEvent* e)
{
    // The cursor shows where the keys act as soon as the grid has them.
    m_model->placeCursor();
    InputControlWidget<FlatGridControl, InputKind::plain>::focusInEvent(e);
}

void FlatGridWidget::paintEvent(QPaintEvent* e)
{
    InputControlWidget<FlatGridControl, InputKind::plain>::paintEvent(e);
    if (!hasFocus())
        return;
    const auto cell = m_model->cursorRect();
    if (!cell)
        return;
    // A frame two pixels wide just inside the cell's borders, in the grid's highlight colour,
    // with a white line inside it so it shows on a highlighted cell too.
    const QRectF frame(cell->x + 1, cell->y + 1, cell->w - m_model->BorderSize() - 2,
                       cell->h - m_model->BorderSize() - 2);
    if (frame.width() < 4 || frame.height() < 4)
        return;
    QPainter p(this);
    p.setClipRect(QRect(0, 0, m_scroll->isVisible() ? m_scroll->x() : width(), height()));
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(toQColor(m_model->BackColorSelected()), 2, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    p.drawRect(frame.adjusted(1, 1, -1, -1));
    p.setPen(QPen(Qt::white, 1));
    p.drawRect(frame.adjusted(2.5, 2.5, -2.5, -2.5));
}

void FlatGridWidget::syncScrollBar()
{
    const ScrollBarState& s = m_model->vscroll();
    m_syncing = true;
    m_scroll->setGeometry(static_cast<int>(s.left), static_cast<int>(s.top), static_cast<int>(s.width),
                          static_cast<int>(s.height));
    m_scroll->setRange(s.min, s.max);
    m_scroll->setSingleStep(s.smallChange);
    m_scroll->setPageStep(s.largeChange);
    m_scroll->setValue(s.value); // the keyboard's cursor scrolls the model too
    m_scroll->setVisible(s.visible);
    m_syncing = false;
}

// ---- MenuButtonControl: the face and its drop-down --------------------------------------------

class MenuDropDown : public QWidget {
  public:
    MenuDropDown(QWidget* parent, MenuButtonControl& model)
        : QWidget(parent)
        , m_model(model)
    {
        setObjectName("picMenu");
        setMouseTracking(true);
        hide();
    }

  protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        paintDisplayList(p, m_model.menuSurface(), size());
    }
    void mouseMoveEvent(QMouseEvent* e) override { m_model.menuMouseMove(e->position().y() * kTwipsPerPixel); }
    void mousePressEvent(QMouseEvent* e) override
    {
        m_model.menuMouseDown(qtButton(e->button()), e->position().y() * kTwipsPerPixel);
    }

  private:
    MenuButtonControl& m_model;
};

MenuButtonWidget::MenuButtonWidget(QWidget* parent)
    : ControlWidget<MenuButtonControl>(parent, kTwipsPerPixel)
{
    m_model->setContainer(this);
    m_model->setMenuInvalidate([this] {
        if (m_dropDown)
            m_dropDown->update();
    });
}

QWidget* MenuButtonWidget::dropDown() const
{
    return m_dropDown;
}

void MenuButtonWidget::updatePosition()
{
    const QPoint at = mapTo(window(), QPoint(0, 0));
    m_model->setPosition(at.x(), at.y());
}

void MenuButtonWidget::moveEvent(QMoveEvent*)
{
    updatePosition();
}
void MenuButtonWidget::showEvent(QShowEvent*)
{
    updatePosition();
}

void MenuButtonWidget::mousePressEvent(QMouseEvent* e)
{
    updatePosition();
    m_model->faceMouseDown(qtButton(e->button()), qtShift(e->modifiers()), units(e->position().x()),
                           units(e->position().y()));
}

void MenuButtonWidget::mouseMoveEvent(QMouseEvent* e)
{
    m_model->faceMouseMove(qtButtons(e->buttons()), qtShift(e->modifiers()), units(e->position().x()),
                           units(e->position().y()));
}

int MenuButtonWidget::containerWidthPx()
{
    return window()->width();
}

PictureRef MenuButtonWidget::copyBackground(int x, int y, int w, int h)
{
    if (w <= 0 || h <= 0)
        return nullptr;
    // What the window shows there, drawn by the window itself: works without a desktop copy.
    const bool wasVisible = m_dropDown && m_dropDown->isVisible();
    if (wasVisible)
        m_dropDown->hide();
    const QImage img = window()->grab(QRect(x, y, w, h)).toImage();
    if (wasVisible)
        m_dropDown->show();
    return img.isNull() ? nullptr : fromQImage(img);
}

void MenuButtonWidget::placeMenu(double leftTw, double topTw, double widthTw, double heightTw)
{
    if (!m_dropDown)
        m_dropDown = new MenuDropDown(window(), *m_model);
    m_dropDown->setGeometry(static_cast<int>(pxRound(leftTw)), static_cast<int>(pxRound(topTw)),
                            static_cast<int>(pxRound(widthTw)), static_cast<int>(pxRound(heightTw)));
}

void MenuButtonWidget::setMenuVisible(bool visible)
{
    if (!m_dropDown)
        return;
    m_dropDown->setVisible(visible);
    if (visible)
        m_dropDown->raise();
}

// ---- SplashControl -----------------------------------------------------------------------------

SplashWidget::SplashWidget(QWidget* parent)
    : ControlWidget<SplashControl>(parent, kTwipsPerPixel)
{
    m_model->setHost(this);
}

void SplashWidget::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    paintDisplayList(p, m_model->parentSurface(), size());
}

double SplashWidget::screenWidthTwips()
{
    const QScreen* s = screen();
    return (s ? s->geometry().width() : width()) * kTwipsPerPixel;
}

double SplashWidget::screenHeightTwips()
{
    const QScreen* s = screen();
    return (s ? s->geometry().height() : height()) * kTwipsPerPixel;
}

PictureRef SplashWidget::copyDesktop(int x, int y, int w, int h)
{
    // Wayland gives no access to other windows' pixels: the fade then uses the window opacity.
    if (QGuiApplication::platformName().startsWith("wayland"))
        return nullptr;
    QScreen* s = screen();
    if (!s)
        return nullptr;
    const QImage img = s->grabWindow(0, x, y, w, h).toImage();
    return img.isNull() || img.width() == 0 ? nullptr : fromQImage(img);
}

void SplashWidget::setParentVisible(bool visible)
{
    window()->setVisible(visible);
}

void SplashWidget::refreshParent()
{
    repaint();
}

void SplashWidget::setParentOpacity(double o)
{
    window()->setWindowOpacity(o);
}

// ---- ToolTipControl ----------------------------------------------------------------------------

ToolTipWidget::ToolTipWidget(QWidget* container)
    : ControlWidget<ToolTipControl>(container, kTwipsPerPixel)
    , m_timer(new QTimer(this))
{
    m_model->setHost(this);
    QObject::connect(m_timer, &QTimer::timeout, this, [this] { m_model->timerTick(); });
    hide();
}

PointF ToolTipWidget::cursorPos()
{
    const QPoint p = QCursor::pos();
    return {static_cast<double>(p.x()), static_cast<double>(p.y())};
}

std::pair<int, int> ToolTipWidget::containerSize()
{
    const QWidget* c = parentWidget() ? parentWidget() : this;
    return {c->width(), c->height()};
}

void ToolTipWidget::resizeControl(double wTwips, double hTwips)
{
    resize(static_cast<int>(pxRound(wTwips)), static_cast<int>(pxRound(hTwips)));
}

void ToolTipWidget::setShape(const TipShape& shape)
{
    QPainterPath path;
    path.addRoundedRect(QRectF(0, 20, shape.w, shape.h - 20), 10, 10);
    if (shape.balloon) {
        QPolygonF tri;
        for (const auto& pt : shape.pointer())
            tri << QPointF(pt.x, pt.y);
        path.addPolygon(tri);
        path.closeSubpath();
    }
    path.setFillRule(Qt::WindingFill);
    setMask(QRegion(path.toFillPolygon().toPolygon(), Qt::WindingFill));
}

void ToolTipWidget::setWindowVisible(bool visible)
{
    setVisible(visible);
    if (visible)
        raise();
}

void ToolTipWidget::setCursorVisible(bool visible)
{
    if (!visible && !m_cursorHidden) {
        QGuiApplication::setOverrideCursor(Qt::BlankCursor);
        m_cursorHidden = true;
    } else if (visible && m_cursorHidden) {
        QGuiApplication::restoreOverrideCursor();
        m_cursorHidden = false;
    }
}

void ToolTipWidget::timerChanged(int intervalMs, bool enabled)
{
    m_timer->setInterval(std::max(intervalMs, 0));
    if (enabled && intervalMs > 0)
        m_timer->start();
    else
        m_timer->stop();
}

void ToolTipWidget::pumpEvents()
{
    QCoreApplication::processEvents();
}

} // namespace zs::flatui
