#include "shell/qt/frmAlert.h"

#include <QMouseEvent>
#include <QPainter>
#include <QWindow>

namespace zs::shell {

frmAlert::frmAlert(std::unique_ptr<IntervalTimer> timer)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
    , m_timer(timer ? std::move(timer) : std::make_unique<QtIntervalTimer>())
{
    setObjectName("frmAlert");
    // A client area of 6225 × 1140 twips inside a thin fixed border: the notice never changes size.
    setFixedSize(415 + 2 * kBorder, 76 + 2 * kBorder);
    setAutoFillBackground(true);
    m_label = new QLabel(this);
    m_label->setObjectName("lblAlert");
    m_label->setGeometry(kBorder + 4, kBorder + 4, 405, 69);
    m_label->setWordWrap(true);
    QFont font("Arial");
    font.setPointSizeF(8.25);
    font.setBold(true);
    m_label->setFont(font);
    m_label->setAttribute(Qt::WA_TransparentForMouseEvents);
    setBackground(224, 255, 239);
}

void frmAlert::setBackground(int r, int g, int b)
{
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(r, g, b));
    setPalette(pal);
}

QColor frmAlert::background() const
{
    return palette().color(QPalette::Window);
}

std::string frmAlert::text() const
{
    return m_label->text().toStdString();
}

void frmAlert::ShowMessage(const std::string& text)
{
    m_label->setText(QString::fromStdString(text));
    show();
}

void frmAlert::StartTimer(int seconds)
{
    m_ticks = 0;
    m_limit = seconds;
    m_timer->start(1000, [this] { Timer1_Timer(); });
}

void frmAlert::Timer1_Timer()
{
    if (++m_ticks >= m_limit)
        hide();
}

void frmAlert::hide()
{
    m_timer->stop();
    QWidget::hide();
}

void frmAlert::paintEvent(QPaintEvent*)
{
    // The window system draws no frame around a window without a title bar: the notice draws
    // its own single line.
    QPainter p(this);
    p.setPen(QColor(0, 0, 0));
    p.setBrush(Qt::NoBrush);
    p.drawRect(rect().adjusted(0, 0, -1, -1));
}

void frmAlert::mousePressEvent(QMouseEvent* e)
{
    if (e->button() == Qt::LeftButton && windowHandle())
        windowHandle()->startSystemMove(); // moved by its body: it has no title bar
}

} // namespace zs::shell
