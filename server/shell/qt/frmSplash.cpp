#include "shell/qt/frmSplash.h"

#include "flatui/widgets/FlatWidgets.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QPainter>
#include <QProgressBar>
#include <QScreen>
#include <QTimer>

namespace zs::shell {

frmSplash::frmSplash(Build build, OneShot after, Fade fade)
    : QWidget(nullptr, Qt::SplashScreen | Qt::FramelessWindowHint)
    , m_build(build)
    , m_after(std::move(after))
    , m_fade(std::move(fade))
{
    if (!m_after)
        // Precise: a coarse timer may end a wait of the splash up to a twentieth early.
        m_after = [this](int ms, std::function<void()> fire) {
            QTimer::singleShot(ms, Qt::PreciseTimer, this, std::move(fire));
        };
    if (!m_fade)
        m_fade = [this](const QImage& picture, int ms) { m_picture->model().go2(flatui::fromQImage(picture), ms); };
    setObjectName("frmSplash");
    setFixedSize(420, 220);
    m_picture = new flatui::SplashWidget(this);
    m_picture->setObjectName("picsplash");
    m_picture->setGeometry(0, 0, 420, 190);
    m_bar = new QProgressBar(this);
    m_bar->setObjectName("shpProgressBar");
    m_bar->setGeometry(10, 196, 400, 14);
    m_bar->setTextVisible(false);
    m_bar->hide();
}

void frmSplash::start(std::function<void()> loadMain)
{
    m_loadMain = std::move(loadMain);
    // Timer1 is switched on by the load, before the window shows.
    m_after(kFirstTickMs, [this] { Timer1_Timer(); });
    // In the middle of the screen, also where no window manager places it.
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.x() + (area.width() - width()) / 2, area.y() + (area.height() - height()) / 2);
    }
    show();
}

void frmSplash::Timer1_Timer()
{
    m_printed = "Build: " + std::to_string(m_build.major) + "." + std::to_string(m_build.minor) + "." +
                std::to_string(m_build.revision);
    QImage image(420, 190, QImage::Format_ARGB32);
    QPainter p(&image);
    QLinearGradient g(0, 0, 420, 190);
    g.setColorAt(0, QColor(20, 56, 110));
    g.setColorAt(1, QColor(80, 140, 210));
    p.fillRect(image.rect(), g);
    p.setPen(Qt::white);
    p.setFont(QFont("Arial", 26, QFont::Bold));
    p.drawText(QRect(0, 40, 420, 60), Qt::AlignCenter, "Zentrik Server");
    p.setFont(QFont("Arial", 10));
    p.drawText(QRect(150, 150, 260, 30), Qt::AlignLeft | Qt::AlignVCenter, QString::fromStdString(m_printed));
    p.end();
    // The fade, then the two seconds' wait; the wait runs on a timer, so the splash keeps
    // answering the window system meanwhile.
    m_fade(image, kFadeMs);
    QCoreApplication::processEvents();
    m_after(kWaitMs, [this] { loadMain(); });
}

void frmSplash::loadMain()
{
    m_bar->show();
    if (m_loadMain)
        m_loadMain();
}

void frmSplash::Progress(int percent)
{
    m_bar->setValue(percent);
    QCoreApplication::processEvents();
}

int frmSplash::progress() const
{
    return m_bar->value();
}

bool frmSplash::barVisible() const
{
    return m_bar->isVisible();
}

} // namespace zs::shell
