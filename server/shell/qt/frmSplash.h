#pragma once
// The splash window (frmSplash): the picture fading in with the build, then the load progress
// of the main window. main() starts it; its waits run on injected one-shot timers, so the
// window tests step through the sequence without waiting.

#include <QWidget>

#include <functional>
#include <string>

class QImage;
class QProgressBar;

namespace zs::flatui {
class SplashWidget;
}

namespace zs::shell {

class frmSplash : public QWidget {
  public:
    struct Build {
        int major = 0, minor = 0, revision = 0;
    };
    /// Runs `fire` once, `ms` milliseconds from now.
    using OneShot = std::function<void(int ms, std::function<void()> fire)>;
    /// Fades `picture` in over `ms` milliseconds and returns when the fade is over; window
    /// events go on meanwhile.
    using Fade = std::function<void(const QImage& picture, int ms)>;
    static constexpr int kFirstTickMs = 1000; ///< Timer1
    static constexpr int kFadeMs = 1500;
    /// From the end of the fade to the main window's load.
    static constexpr int kWaitMs = 2000;

    /// `after` times the waits (QTimer::singleShot when empty), `fade` plays the fade (the
    /// picture's own when empty).
    explicit frmSplash(Build build, OneShot after = {}, Fade fade = {});

    /// The load: Timer1's first tick prints the build and fades the picture in; two seconds
    /// after the fade has ended the bar shows and `loadMain` runs (it loads the main window,
    /// reporting through Progress, and closes the splash). Window events go on during the wait.
    void start(std::function<void()> loadMain);
    /// The bar to `percent`; pending window events run.
    void Progress(int percent);

    /// "Build: " major "." minor "." revision, once the first tick has printed it; "" before.
    const std::string& buildText() const { return m_printed; }
    int progress() const;
    bool barVisible() const;

  private:
    void Timer1_Timer();
    /// Shows the bar and runs the main window's load.
    void loadMain();

    Build m_build;
    OneShot m_after;
    Fade m_fade;
    std::function<void()> m_loadMain;
    std::string m_printed;
    flatui::SplashWidget* m_picture;
    QProgressBar* m_bar;
};

} // namespace zs::shell
