#include "Widgets.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QFrame>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPalette>
#include <QPixmap>

namespace zs::cadenzo {

QColor oleColor(std::uint32_t color)
{
    if (color & 0x80000000u) {
        const QPalette pal = QApplication::palette();
        switch (color & 0xFF) {
        case 0x05:
            return pal.color(QPalette::Base); // window background
        case 0x08:
            return pal.color(QPalette::Text); // window text
        case 0x0D:
            return pal.color(QPalette::Highlight);
        case 0x0E:
            return pal.color(QPalette::HighlightedText);
        case 0x0F:
            return pal.color(QPalette::Button); // button face
        case 0x11:
            return pal.color(QPalette::Disabled, QPalette::Text);
        case 0x12:
            return pal.color(QPalette::ButtonText); // button text
        default:
            return pal.color(QPalette::Window);
        }
    }
    return QColor(static_cast<int>(color & 0xFF), static_cast<int>((color >> 8) & 0xFF),
                  static_cast<int>((color >> 16) & 0xFF));
}

QIcon iconFor(Icon icon)
{
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    QPen pen(Qt::darkGreen, 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    switch (icon) {
    case Icon::Aggiungi:
        p.setPen(pen);
        p.drawLine(8, 3, 8, 13);
        p.drawLine(3, 8, 13, 8);
        break;
    case Icon::Modifica:
        p.setPen(QPen(Qt::darkBlue, 2));
        p.drawLine(3, 13, 13, 3);
        p.drawLine(3, 13, 6, 13);
        break;
    case Icon::Togli:
        p.setPen(QPen(Qt::darkRed, 3, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(3, 8, 13, 8);
        break;
    case Icon::Conferma:
        p.setPen(pen);
        p.drawPolyline(QPolygon({QPoint(3, 8), QPoint(7, 12), QPoint(13, 4)}));
        break;
    case Icon::Annulla:
        p.setPen(QPen(Qt::darkRed, 3, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(4, 4, 12, 12);
        p.drawLine(12, 4, 4, 12);
        break;
    case Icon::Calendario:
        // A calendar leaf: a red header with its two rings over a page of days.
        p.setRenderHint(QPainter::Antialiasing, false);
        p.fillRect(QRect(1, 2, 14, 13), Qt::white);
        p.fillRect(QRect(1, 2, 14, 4), QColor(0xC0, 0x20, 0x20));
        p.setPen(QPen(QColor(0x40, 0x40, 0x40), 1));
        p.drawRect(QRect(1, 2, 13, 12));
        p.drawLine(4, 0, 4, 3);
        p.drawLine(11, 0, 11, 3);
        for (int row = 0; row < 3; ++row)
            for (int col = 0; col < 4; ++col)
                p.fillRect(QRect(3 + 3 * col, 7 + 2 * row + row, 2, 2), QColor(0x30, 0x50, 0x90));
        break;
    }
    return QIcon(pm);
}

QLocale italianLocale()
{
    return QLocale(QLocale::Italian, QLocale::Italy);
}

QFont qtFont(const FontObject& font)
{
    // The stored fonts are Windows faces; where one is missing, the metric-compatible face
    // keeps texts as wide as the columns and boxes were sized for (the generic fallback is
    // wider and cuts the list's dates).
    QFont f;
    f.setFamilies({QString::fromStdString(font.name), QStringLiteral("Liberation Sans")});
    f.setPointSizeF(font.size);
    f.setBold(font.bold);
    f.setItalic(font.italic);
    f.setUnderline(font.underline);
    f.setStrikeOut(font.strikethrough);
    return f;
}

namespace {
std::optional<bool> g_nextAnswer; // test hook; the UI thread only
}

bool Prompt::askYesNo(QWidget* parent, const QString& title, const QString& text)
{
    if (g_nextAnswer) {
        const bool a = *g_nextAnswer;
        g_nextAnswer.reset();
        return a;
    }
    return QMessageBox::question(parent, title, text, QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

void Prompt::setNextAnswer(std::optional<bool> answer)
{
    g_nextAnswer = answer;
}

void Prompt::inform(QWidget* parent, const QString& title, const QString& text)
{
    QMessageBox::information(parent, title, text);
}

bool IsControlloInput(const QWidget* w)
{
    return qobject_cast<const QAbstractItemView*>(w) || qobject_cast<const QLineEdit*>(w) ||
           qobject_cast<const QComboBox*>(w);
}

void applyAppearance(const AppearanceProps& props, const QList<QWidget*>& children, bool applyEnabled)
{
    for (QWidget* w : children) {
        const bool input = IsControlloInput(w);
        QPalette pal = w->palette();
        if (input) {
            pal.setColor(QPalette::Base, oleColor(props.fillColor));
            pal.setColor(QPalette::Text, QColor(Qt::black));
        } else {
            pal.setColor(QPalette::Window, oleColor(props.backColor));
            pal.setColor(QPalette::Button, oleColor(props.backColor));
            pal.setColor(QPalette::WindowText, oleColor(props.foreColor));
            pal.setColor(QPalette::ButtonText, oleColor(props.foreColor));
        }
        w->setPalette(pal);
        if (props.font && w->objectName() != QLatin1String("lblTitle"))
            w->setFont(qtFont(*props.font));
        if (auto* frame = qobject_cast<QFrame*>(w); frame && input)
            frame->setFrameShadow(props.appearance == 0 ? QFrame::Plain : QFrame::Sunken);
        if (applyEnabled)
            w->setEnabled(props.enabled);
    }
}

} // namespace zs::cadenzo
