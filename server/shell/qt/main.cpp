// ZentrikServer: the server program. Refuses a second copy on the same program folder, shows
// the splash with the build, loads the windows and the settings, then lives in its main window
// or in the tray. `--screenshot FILE` saves a PNG of the screen once the program is up and ends.

#include "flatui/widgets/FlatWidgets.h"
#include "fs/Paths.h"
#include "shell/DesktopIntegration.h"
#include "shell/qt/ShellApplication.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QProgressBar>
#include <QScreen>
#include <QTimer>

#include <cstdio>
#include <unistd.h>

namespace {

/// The splash window: the picture fading in, the build and the load progress.
class frmSplash : public QWidget {
public:
    frmSplash() : QWidget(nullptr, Qt::SplashScreen | Qt::FramelessWindowHint)
    {
        setObjectName("frmSplash");
        resize(420, 220);
        m_picture = new zs::flatui::SplashWidget(this);
        m_picture->setObjectName("picsplash");
        m_picture->setGeometry(0, 0, 420, 190);
        m_bar = new QProgressBar(this);
        m_bar->setObjectName("shpProgressBar");
        m_bar->setGeometry(10, 196, 400, 14);
        m_bar->setTextVisible(false);
        m_bar->hide();
    }
    void fadeIn()
    {
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
        p.drawText(QRect(0, 150, 410, 30), Qt::AlignRight | Qt::AlignVCenter,
                   QString("Build: %1.%2.%3").arg(ZS_VERSION_MAJOR).arg(ZS_VERSION_MINOR).arg(ZS_VERSION_PATCH));
        p.end();
        m_picture->model().go2(zs::flatui::fromQImage(image), 1500);
        m_bar->show();
    }
    void Progress(int percent)
    {
        m_bar->setValue(percent);
        QCoreApplication::processEvents();
    }

private:
    zs::flatui::SplashWidget* m_picture;
    QProgressBar* m_bar;
};

std::filesystem::path executablePath()
{
    std::error_code ec;
    return std::filesystem::read_symlink("/proc/self/exe", ec);
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QString screenshot;
    for (int i = 1; i < argc; ++i)
        if (QString(argv[i]) == "--screenshot" && i + 1 < argc)
            screenshot = QString::fromLocal8Bit(argv[++i]);

    const std::filesystem::path folder = zs::fs::programFolder();
    // Relative names in the loading XML (attached databases) are taken under the program folder.
    if (::chdir(folder.c_str()) != 0)
        std::fprintf(stderr, "ZentrikServer: cartella del programma non accessibile: %s\n", folder.c_str());

    zs::shell::SingleInstanceLock lock(folder);
    if (!lock.acquired()) {
        QMessageBox::information(nullptr, "Attenzione.", "Un'altra copia dell'applicazione e' atttualmente in esecuzione.");
        return 0;
    }

    frmSplash splash;
    splash.show();
    splash.fadeIn();
    splash.Progress(0);

    zs::shell::ShellApplication shell({folder, nullptr, executablePath()});
    splash.Progress(30);
    if (!shell.load())
        return 1;
    splash.Progress(100);
    splash.close();
    shell.ChangeToolTipIconTray(zs::shell::TrayState::Ready);

    if (!screenshot.isEmpty()) {
        QTimer::singleShot(1500, [&] {
            QPixmap shot;
            if (QScreen* screen = QGuiApplication::primaryScreen(); screen && !screen->grabWindow(0).isNull())
                shot = screen->grabWindow(0);
            if (shot.isNull() || QGuiApplication::platformName() == "offscreen")
                shot = shell.main().grab();
            const bool ok = shot.save(screenshot, "PNG");
            if (!ok)
                std::fprintf(stderr, "ZentrikServer: impossibile scrivere %s\n", screenshot.toLocal8Bit().constData());
            shell.ChiudiApplicazione();
            QApplication::exit(ok ? 0 : 1);
        });
    }
    return app.exec();
}
