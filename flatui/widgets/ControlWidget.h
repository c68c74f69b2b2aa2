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
void applyPointer(QWidget& w, int pointer);

template <class Model> class ControlWidget : public QWidget {
public:
    explicit ControlWidget(QWidget* parent, double unitsPerPixel)
        : QWidget(parent), m_model(std::make_unique<Model>()), m_scale(unitsPerPixel)
    {
        setMouseTracking(true);
        setFocusPolicy(Qt::StrongFocus);
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
    void resizeEvent(QResizeEvent*) override
    {
        m_model->resize(width() * kTwipsPerPixel, height() * kTwipsPerPixel);
    }
    void afterMouse() { applyPointer(*this, m_model->mousePointer()); }

    std::unique_ptr<Model> m_model;
    double m_scale;
};

} // namespace zs::flatui
