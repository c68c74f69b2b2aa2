#pragma once
// What the controls draw with: pictures, fonts, text measuring, and the display list each
// control paints into. The list is plain data, so tests read it; the widgets replay it with
// QPainter. Coordinates are pixels (fractions allowed); filled boxes include both corners,
// as the original's box drawing does.

#include "automation/Variant.h"
#include "flatui/core/Colors.h"
#include "flatui/core/Export.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace zs::flatui {

/// A picture in 32-bit ARGB pixels (0xAARRGGBB), row by row.
struct TAVOLEX_EXPORT Picture : automation::AutomationObject {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> pixels;

    Picture() = default;
    Picture(int w, int h, std::uint32_t fill = 0xFF000000u)
        : width(w)
        , height(h)
        , pixels(std::size_t(w) * h, fill)
    {}
    std::uint32_t at(int x, int y) const { return pixels[std::size_t(y) * width + x]; }
    void set(int x, int y, std::uint32_t argb) { pixels[std::size_t(y) * width + x] = argb; }
};
using PictureRef = std::shared_ptr<const Picture>; // shared with the host that loaded it

struct TAVOLEX_EXPORT FontSpec : automation::AutomationObject {
    std::string name = "Sans Serif";
    double size = 8.25;
    bool bold = false;
    bool italic = false;
    bool underline = false;
    FontSpec() = default;
    FontSpec(std::string n, double s, bool b = false)
        : name(std::move(n))
        , size(s)
        , bold(b)
    {}
};
using FontRef = std::shared_ptr<FontSpec>; // shared: the host keeps changing the font it set

/// An image collection addressed 1 to count(), as hosts' image lists are.
struct TAVOLEX_EXPORT ImageList : automation::AutomationObject {
    std::vector<PictureRef> images;
    int count() const { return static_cast<int>(images.size()); }
    /// Error 35600-like lookups are the caller's business: nullptr when out of range.
    PictureRef item(int index) const { return index >= 1 && index <= count() ? images[index - 1] : nullptr; }
};
using ImageListRef = std::shared_ptr<ImageList>;

/// Text measures in pixels for a font. The widgets measure with Qt; tests use FixedPitchMetrics.
class TAVOLEX_EXPORT TextMetrics {
  public:
    virtual ~TextMetrics() = default;
    virtual double width(std::string_view text, const FontSpec& font) const = 0;
    /// The line height; an empty text has the font's height too.
    virtual double height(std::string_view text, const FontSpec& font) const = 0;
};

/// Every character `charWidth` pixels wide, lines `lineHeight` high: deterministic layouts.
class TAVOLEX_EXPORT FixedPitchMetrics : public TextMetrics {
  public:
    FixedPitchMetrics(double charWidth = 7, double lineHeight = 13)
        : m_cw(charWidth)
        , m_lh(lineHeight)
    {}
    double width(std::string_view text, const FontSpec&) const override;
    double height(std::string_view, const FontSpec&) const override { return m_lh; }

  private:
    double m_cw;
    double m_lh;
};

struct PointF {
    double x = 0;
    double y = 0;
    friend bool operator==(const PointF&, const PointF&) = default;
};

struct DrawOp {
    enum class Kind {
        Clear,          ///< whole surface to `color`
        FillBox,        ///< (x1,y1)-(x2,y2) both included, `color`
        Box,            ///< outline of the same box, `color`, `pen`
        Line,           ///< (x1,y1)-(x2,y2), `color`, `pen`
        Text,           ///< `text` with its top-left at (x1,y1), `color`, `font`
        AlphaBlend,     ///< `picture` (srcW x srcH from 0,0) stretched to (x1,y1,x2 wide,y2 high), `alpha`
        TransparentBlt, ///< `picture` at (x1,y1) own size, pixels equal to `color` left out
        Image,          ///< `picture` at (x1,y1), own size, with its own transparency
        Polygon,        ///< `points`, outline `color`, filled with `fill`
        CopyBackground, ///< what lay behind the surface, (x1,y1) of the source onto 0,0 of the surface
    };
    Kind kind = Kind::Clear;
    double x1 = 0, y1 = 0, x2 = 0, y2 = 0;
    Color color = 0;
    Color fill = 0;
    double pen = 1;
    int alpha = 255;
    double srcW = 0, srcH = 0;
    std::string text;
    FontRef font;
    PictureRef picture;
    std::vector<PointF> points;
};

/// A surface's persistent image: what was drawn since the last clear.
class TAVOLEX_EXPORT DisplayList {
  public:
    void clear(Color c);
    void fillBox(double x1, double y1, double x2, double y2, Color c);
    void box(double x1, double y1, double x2, double y2, Color c, double pen);
    void line(double x1, double y1, double x2, double y2, Color c, double pen);
    void text(double x, double y, std::string s, Color c, const FontRef& font);
    void alphaBlend(const PictureRef& pic, double x, double y, double w, double h, double srcW, double srcH, int alpha);
    void transparentBlt(const PictureRef& pic, double x, double y, Color transparent);
    void image(const PictureRef& pic, double x, double y);
    void polygon(std::vector<PointF> pts, Color outline, Color fill);

    /// The colour the drawing leaves at pixel (x, y), worked out from the clears, boxes, lines
    /// and pictures (blended, transparent or plain); texts, polygons and background copies are
    /// passed over. `ground` stands for what lies under an empty list. System colours come back
    /// resolved once a picture is blended over them.
    Color colorAt(int x, int y, Color ground) const;

    const std::vector<DrawOp>& ops() const { return m_ops; }
    std::vector<const DrawOp*> opsOfKind(DrawOp::Kind k) const;
    std::vector<std::string> texts() const;

  private:
    std::vector<DrawOp> m_ops;
};

} // namespace zs::flatui
