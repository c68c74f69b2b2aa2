#pragma once
// The thin Qt host of one flat control model: it owns the model, replays its surface, and
// forwards size, mouse and keys. Controls that measure in twips get positions × 15.

#include "flatui/core/ControlBase.h"
#include "flatui/widgets/QtCanvas.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWidget>

#include <memory>

namespace zs::flatui {

int qtButton(Qt::MouseButton b);
int qtButtons(Qt::MouseButtons b);
int qtShift(Qt::KeyboardModifiers m);
/// The key code a key event stands for (13 Enter, 27 Escape, 37-40 arrows, ...); 0 for none.
int vbKeyCode(const QKeyEvent& e);
/// The character a key press types, 0 for none or one outside Latin-1.
int keyAscii(const QKeyEvent& e);
void applyPointer(QWidget& w, int pointer);
/// The focus mark of a flat control that has the keyboard: a dotted frame drawn over a light
/// one just inside `r`, so it shows on dark faces and light grids alike.
void drawFocusMark(QPainter& p, const QRect& r);

template <class Model> class ControlWidget : public QWidget {
  public:
    explicit ControlWidget(QWidget* parent, double unitsPerPixel)
        : QWidget(parent)
        , m_model(std::make_unique<Model>())
        , m_scale(unitsPerPixel)
    {
        setMouseTracking(true);
        m_model->setTextMetrics(&QtTextMetrics::instance());
        m_model->initProperties();
        m_model->setInvalidate([this] { update(); });
    }
    Model& model() { return *m_model; }

  protected:
    double units(double px) const { return px * m_scale; }
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        paintDisplayList(p, m_model->surface(), size());
    }
    void resizeEvent(QResizeEvent*) override { m_model->resize(width() * kTwipsPerPixel, height() * kTwipsPerPixel); }
    void afterMouse() { applyPointer(*this, m_model->mousePointer()); }

    std::unique_ptr<Model> m_model;
    double m_scale;
};

/// How a control takes a release: a button-like one also gets a Click for a release inside it
/// and shows its own pointer after presses and moves; a plain one reports the mouse only.
enum class InputKind { buttonLike, plain };

/// The host of a control that takes the container's mouse and keys as they come: presses,
/// moves and releases (positions in the model's units), double clicks, and key down, press and
/// up. It shows a focus mark while it has the keyboard. (The menu face, splash and tip take no
/// focus: the menu's entries are also the main window's menu bar.)
template <class Model, InputKind kKind> class InputControlWidget : public ControlWidget<Model> {
  public:
    /// The control takes the focus by Tab and by click.
    InputControlWidget(QWidget* parent, double unitsPerPixel)
        : ControlWidget<Model>(parent, unitsPerPixel)
    {
        this->setFocusPolicy(Qt::StrongFocus);
    }

  protected:
    void mousePressEvent(QMouseEvent* e) override
    {
        this->m_model->mouseDown(qtButton(e->button()), qtShift(e->modifiers()), x(e), y(e));
        showPointer();
    }
    void mouseReleaseEvent(QMouseEvent* e) override
    {
        this->m_model->mouseUp(qtButton(e->button()), qtShift(e->modifiers()), x(e), y(e));
        if constexpr (kKind == InputKind::buttonLike)
            if (this->rect().contains(e->position().toPoint()))
                this->m_model->click();
    }
    void mouseDoubleClickEvent(QMouseEvent*) override { this->m_model->dblClick(); }
    void mouseMoveEvent(QMouseEvent* e) override
    {
        this->m_model->mouseMove(qtButtons(e->buttons()), qtShift(e->modifiers()), x(e), y(e));
        showPointer();
    }
    void paintEvent(QPaintEvent* e) override
    {
        ControlWidget<Model>::paintEvent(e);
        if (this->hasFocus()) {
            QPainter p(this);
            drawFocusMark(p, this->rect());
        }
    }
    // The model hears every key; a key the control does not act on goes on to the window, so
    // Escape and Enter still reach a dialog whose flat button has the focus.
    void keyPressEvent(QKeyEvent* e) override
    {
        this->m_model->keyDown(vbKeyCode(*e), qtShift(e->modifiers()));
        if (const int a = keyAscii(*e))
            this->m_model->keyPress(a);
        if (!keyAction(*e))
            e->ignore();
    }
    void keyReleaseEvent(QKeyEvent* e) override
    {
        this->m_model->keyUp(vbKeyCode(*e), qtShift(e->modifiers()));
        e->ignore();
    }
    /// What the control itself does with a pressed key; true when it used it.
    virtual bool keyAction(const QKeyEvent&) { return false; }

  private:
    double x(const QMouseEvent* e) const { return this->units(e->position().x()); }
    double y(const QMouseEvent* e) const { return this->units(e->position().y()); }
    void showPointer()
    {
        if constexpr (kKind == InputKind::buttonLike)
            this->afterMouse();
    }
};

} // namespace zs::flatui
