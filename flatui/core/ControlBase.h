#pragma once
// What every flat control shares: its container site, its events, its size in twips, the
// persistent image of its surface (a display list), the font, and the hook that tells the
// widget to show a new drawing.

#include "automation/ControlSite.h"
#include "automation/Dispatch.h"
#include "automation/PropertyBag.h"
#include "flatui/core/Canvas.h"
#include "flatui/core/Export.h"
#include "flatui/core/Tavolex.h"

#include <functional>
#include <utility>

namespace zs::flatui {

class TAVOLEX_EXPORT ControlBase : public automation::Dispatchable {
  public:
    ControlBase();
    ~ControlBase() override;

    automation::EventSource& events() override { return m_events; }

    /// The container; the control does not own it and it must outlive the control.
    void setSite(automation::ControlSite* site);
    automation::ControlSite& site() const { return *m_site; }
    void setTextMetrics(const TextMetrics* metrics);
    const TextMetrics& textMetrics() const { return *m_metrics; }
    /// Called after every drawing so the widget repaints from surface().
    void setInvalidate(std::function<void()> fn) { m_invalidate = std::move(fn); }

    /// The container's ambient font, which new controls take.
    static FontRef ambientFont();

    const DisplayList& surface() const { return m_surface; }
    double widthTwips() const { return m_width; }
    double heightTwips() const { return m_height; }
    /// The container resized the control.
    void resize(double widthTwips, double heightTwips);

    /// The three persistence notifications.
    virtual void initProperties() = 0;
    virtual void readProperties(const automation::PropertyBag& bag) = 0;
    virtual void writeProperties(automation::PropertyBag& bag) const = 0;

    /// The mouse pointer the surface shows: 0 default, 99 the control's own, 15-style codes otherwise.
    int mousePointer() const { return m_mousePointer; }
    /// How many drawings the control has made (tests read it to see which lets repaint).
    int drawCount() const { return m_drawCount; }

  protected:
    /// Draws the control again from its properties: after a resize and after the let of a
    /// property the control shows. Controls that draw nothing of their own keep the empty one.
    virtual void redraw() {}
    void notify(std::string_view bagName) { m_site->propertyChanged(bagName); }
    /// A property let: stores the value and reports the change under the bag name.
    template <class T, class V> void let(T& member, V&& value, std::string_view bagName)
    {
        member = std::forward<V>(value);
        notify(bagName);
    }
    /// The let of a property that can be set at run time only: error 387 at design time.
    template <class T, class V> void letAtRunTime(T& member, V&& value, std::string_view bagName)
    {
        runtimeOnly();
        let(member, std::forward<V>(value), bagName);
    }
    /// The let of a property the control shows: stored, reported, then drawn again.
    template <class T, class V> void letShown(T& member, V&& value, std::string_view bagName)
    {
        let(member, std::forward<V>(value), bagName);
        redraw();
    }
    /// The font a Font let gives the control: the ambient one when it is given none.
    static FontRef fontOrAmbient(FontRef f) { return f ? std::move(f) : ambientFont(); }
    void finishDrawing();
    DisplayList& canvas() { return m_surface; }
    void raise(int id, std::span<automation::Variant> args) { m_events.raise(id, args); }
    void raise(int id) { m_events.raise(id); }
    /// Raises a mouse event with Button, Shift, X, Y by reference.
    void raiseMouse(int id, int button, int shift, double x, double y);
    void raiseKey(int id, int keyCode, int shift);

    FontRef m_font;
    int m_mousePointer = 0;

  private:
    void runtimeOnly() const;

    automation::ControlSite* m_site;
    const TextMetrics* m_metrics;
    automation::EventSource m_events;
    std::function<void()> m_invalidate;
    DisplayList m_surface;
    double m_width = 1200;
    double m_height = 450;
    int m_drawCount = 0;
};

/// Reads a colour, integer, Boolean or string entry, the same default for a missing name.
Color readColor(const automation::PropertyBag& bag, std::string_view name, Color def);
void writeColor(automation::PropertyBag& bag, std::string_view name, Color value, Color def);
FontRef readFont(const automation::PropertyBag& bag, std::string_view name);
void writeFont(automation::PropertyBag& bag, std::string_view name, const FontRef& font);
PictureRef readPicture(const automation::PropertyBag& bag, std::string_view name);
void writePicture(automation::PropertyBag& bag, std::string_view name, const PictureRef& pic);

/// Variant views of library objects.
automation::Variant pictureVariant(const PictureRef& pic);
PictureRef pictureFrom(const automation::Variant& v);
FontRef fontFrom(const automation::Variant& v);
/// A font or image list as its property hands it out; Empty for none.
automation::Variant objectVariant(std::shared_ptr<automation::AutomationObject> o);

/// A dispatch method that takes no arguments and returns nothing.
template <class T, void (T::*Fn)()> automation::Variant noArgMethod(T& o, std::span<automation::Variant>)
{
    (o.*Fn)();
    return automation::Variant();
}

/// A control's dispatch table begun with the eight standard events in their usual order; the
/// grid's Click carries the cell (four arguments), every other control's none.
template <class T>
automation::DispatchTableBuilder<T> withStandardEvents(automation::DispatchTableBuilder<T> b, int clickArgs = 0)
{
    b.event(ev::Click, "Click", clickArgs)
        .event(ev::DblClick, "DblClick", 0)
        .event(ev::KeyDown, "KeyDown", 2)
        .event(ev::KeyPress, "KeyPress", 1)
        .event(ev::KeyUp, "KeyUp", 2)
        .event(ev::MouseDown, "MouseDown", 4)
        .event(ev::MouseMove, "MouseMove", 4)
        .event(ev::MouseUp, "MouseUp", 4);
    return b;
}

} // namespace zs::flatui
