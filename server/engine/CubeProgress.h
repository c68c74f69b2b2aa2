#pragma once
// The small framed notice ("Attendere ...", "Aggiornamento dati Olap in corso...") that the
// cube window shows in its middle while it saves the settings or writes its snapshot, with the
// hourglass pointer. This is the notice's model: geometry, look and what it draws; the Qt
// host paints it and implements the pointer and the yield.

#include <cstdint>
#include <string>

namespace zs::engine {

/// What the notice needs of the program: the screen's mouse pointer, the height of a text in
/// the notice's font (twips), and a yield to the window system.
class CubeProgressHost {
  public:
    virtual ~CubeProgressHost() = default;
    virtual void setMousePointer(int pointer) = 0; ///< 0 default, 11 hourglass
    virtual double textHeightTwips(const std::string& text) = 0;
    virtual void yield() = 0;
};

/// The notice's drawing, in twips of the box (the icon in pixels, as drawn).
struct CubeProgressDrawing {
    double frameRight = 0, frameBottom = 0; ///< outline from (0,0), black, line width 3
    int frameLineWidth = 3;
    int icon = 0;              ///< image of the sub-menu list; 0 for none
    int iconX = 5, iconY = 11; ///< pixels
    std::string text;
    double textX = 600, textY = 0;
    std::string fontName = "Arial";
    int fontPoints = 10;
    bool bold = true;
};

class CubeProgress {
  public:
    static constexpr double kWidth = 5250;
    static constexpr double kHeight = 750;
    static constexpr std::uint32_t kBackColor = 0xFEF7EE; ///< red 238, green 247, blue 254
    static constexpr int kHourglass = 11;

    explicit CubeProgress(CubeProgressHost& host)
        : m_host(host)
    {}

    /// Shows `text` centred in a window of the given outer size (twips), with `icon` when it
    /// is above 0. A second call without NascondiAvanzamento redraws the notice from scratch.
    void MostraAvanzamento(double windowWidthTwips, double windowHeightTwips, const std::string& text, int icon);
    /// Hides the notice, puts the default pointer back and yields.
    void NascondiAvanzamento();

    bool visible() const { return m_visible; }
    double left() const { return m_left; }
    double top() const { return m_top; }
    const CubeProgressDrawing& drawing() const { return m_drawing; }
    /// How many times the notice was drawn (each show clears and redraws).
    int drawCount() const { return m_drawCount; }

  private:
    CubeProgressHost& m_host;
    bool m_visible = false;
    double m_left = 0, m_top = 0;
    CubeProgressDrawing m_drawing;
    int m_drawCount = 0;
};

} // namespace zs::engine
