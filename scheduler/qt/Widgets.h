#pragma once
// Small Qt helpers of the scheduler library: OLE colours, the five icon pictures, the yes/no
// question with a scripted answer for tests, and handing appearance properties to widgets.

#include "scheduler/Appearance.h"

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QLocale>
#include <QString>

#include <optional>

class QWidget;

namespace zs::cadenzo {

/// An OLE colour: 0x00BBGGRR, or 0x800000nn for the system colour nn.
QColor oleColor(std::uint32_t color);

enum class Icon { Aggiungi = 1, Modifica, Togli, Conferma, Annulla, Calendario };
/// The pictures of the control's image list (1 add … 5 cancel), and the dialog's calendar.
QIcon iconFor(Icon icon);

QFont qtFont(const FontObject& font);

/// The locale the library's dates are shown in (calendar month and day names): Italian,
/// whatever the host or the machine set.
QLocale italianLocale();

/// Yes/No questions and notices. Tests set the next answer instead of showing a question box.
class Prompt {
  public:
    static bool askYesNo(QWidget* parent, const QString& title, const QString& text);
    static void setNextAnswer(std::optional<bool> answer);

    /// An information box with an OK button.
    static void inform(QWidget* parent, const QString& title, const QString& text);
};

/// List views, text boxes and combo boxes.
bool IsControlloInput(const QWidget* w);

/// Hands the appearance on to `children` as the control does: back colour to non-input ones,
/// fill colour to input ones, fore colour to non-input ones (input ones get black), the font to
/// all but those named lblTitle, and the 3-D appearance to all.
void applyAppearance(const AppearanceProps& props, const QList<QWidget*>& children, bool applyEnabled);

} // namespace zs::cadenzo
