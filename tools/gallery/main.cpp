// The flat control gallery: every control of libtavolex.so on one window, set up as the server
// program's windows use them (the category menu and the cube grid are the program's own).
// `gallery --screenshot FILE` saves a PNG of the window and exits.

#include "dialogs/qt/CubiWindow.h"
#include "flatui/widgets/FlatWidgets.h"
#include "shell/qt/frmMenu.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>

#include <cstdio>

using namespace zs::flatui;
using zs::automation::Variant;

namespace {

PictureRef buttonPicture(int w, int h)
{
    auto p = std::make_shared<Picture>(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int edge = (x == 0 || y == 0 || x == w - 1 || y == h - 1) ? 1 : 0;
            const auto shade = static_cast<std::uint32_t>(edge ? 40 : 90 + y * 100 / h);
            p->set(x, y, 0xFF000000u | (shade / 3) << 16 | (shade / 2 + 40) << 8 | (shade + 60));
        }
    return p;
}

QWidget* labelled(const char* text, QWidget* w, QWidget* parent)
{
    auto* box = new QWidget(parent);
    auto* l = new QVBoxLayout(box);
    l->setContentsMargins(0, 0, 0, 0);
    auto* caption = new QLabel(QString::fromUtf8(text), box);
    l->addWidget(caption);
    w->setParent(box);
    l->addWidget(w);
    return box;
}

QString screenshotFile(int argc, char** argv)
{
    QString screenshot;
    for (int i = 1; i < argc; ++i)
        if (QString(argv[i]) == "--screenshot" && i + 1 < argc)
            screenshot = QString::fromLocal8Bit(argv[++i]);
    return screenshot;
}

// Buttons in their three looks.
QWidget* buttonRow(QWidget* parent)
{
    auto* buttons = new QWidget(parent);
    auto* row = new QHBoxLayout(buttons);
    const char* names[] = {"Estrazione", "Elaborazione", "Disabilitato"};
    for (int i = 0; i < 3; ++i) {
        auto* b = new FlatButtonWidget(buttons);
        b->setObjectName(QString("flb%1").arg(i));
        b->setFixedSize(120, 32);
        auto& m = b->model();
        m.setBackColor(0xFFF3EA);
        m.setPicture(buttonPicture(120, 32));
        m.setText(names[i]);
        m.setEnabled(i != 2);
        if (i == 1)
            m.mouseMove(0, 0, 100, 100);
        row->addWidget(b);
    }
    row->addStretch();
    return buttons;
}

// The cube window's grid.
FlatGridWidget* cubeGrid()
{
    auto* grid = new FlatGridWidget;
    grid->setObjectName("flgCubi");
    grid->setFixedSize(560, 110);
    auto& g = grid->model();
    zs::dialogs::setUpCubeGrid(g);
    g.setRows(0);
    g.addrow("Cubo\tIncrementale\tAggiornamento Dati\tCompleta\tdata ultima elaborazione");
    const char* cubes[] = {"Vendite", "Acquisti", "Magazzino", "Ordini", "Clienti"};
    for (int i = 0; i < 5; ++i) {
        g.addrow(std::string(cubes[i]) + "\t" + (i == 1 ? "True" : "False") + "\t" + (i == 2 ? "True" : "False") +
                 "\t" + (i == 1 || i == 2 ? "False" : "True") + "\t0" + std::to_string(i + 1) + "/03/2004");
        for (int c = 2; c <= 4; ++c)
            g.SetFormat(typeCellFormat::flbBoolean, g.rows(), c);
    }
    g.setColWidth(1, 90);
    g.setColWidth(3, 120);
    g.setColWidth(5, 160);
    return grid;
}

// The options dialog's tab strip.
FlatTabWidget* optionTabs()
{
    auto* tabs = new FlatTabWidget;
    tabs->setObjectName("tabOpzioni");
    tabs->setFixedSize(600, 120);
    auto& t = tabs->model();
    t.setBackColor(0xFFF3EA);
    t.setBackColorTab(0xFFFFFF);
    t.setBorderColorTab(0xA05030);
    t.setForeColor(0xFFFFFF);
    t.setForeColorSelected(0x00FFFF);
    t.setTabs(4);
    const char* captions[] = {"Generale", "Database", "Bus & Task", "Statistiche di esecuzione"};
    for (int k = 1; k <= 4; ++k) {
        t.setTabId(k);
        t.setTabCaption(captions[k - 1]);
    }
    t.setTabId(2);
    t.setTabselected(true);
    return tabs;
}

// A hover tip over the run buttons, in its balloon shape.
ToolTipWidget* hoverTip(QWidget* parent)
{
    auto* tip = new ToolTipWidget(parent);
    tip->setObjectName("ttpAvvia");
    tip->model().setText("Avvia l'estrazione dei dati e l'elaborazione dei cubi");
    tip->model().setWordwrap(true);
    tip->model().setBackColor(0xE1FFFF);
    tip->model().setOpacity(96);
    tip->model().setTooltipLeft(300);
    tip->model().setTooltipTop(60);
    tip->model().setSrcX(300); // the same place on the picture behind it
    tip->model().setSrcY(60);
    return tip;
}

PictureRef splashPicture()
{
    auto picture = std::make_shared<Picture>(300, 60);
    for (int y = 0; y < 60; ++y)
        for (int x = 0; x < 300; ++x)
            picture->set(x, y,
                         0xFF000000u | static_cast<std::uint32_t>(40 + x * 150 / 300) << 16 |
                             static_cast<std::uint32_t>(60 + y * 2) << 8 | 0xA0u);
    return picture;
}

void saveScreenshot(QWidget& window, const QString& screenshot)
{
    const bool ok = window.grab().save(screenshot, "PNG");
    if (!ok)
        std::fprintf(stderr, "gallery: cannot write %s\n", screenshot.toLocal8Bit().constData());
    QApplication::exit(ok ? 0 : 1);
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const QString screenshot = screenshotFile(argc, argv);

    QWidget window;
    window.setObjectName("gallery");
    window.setWindowTitle("Tavolex");
    window.setStyleSheet("QWidget#gallery { background: #EAF3FF; }");
    auto* outer = new QHBoxLayout(&window);
    outer->setContentsMargins(0, 0, 0, 0);

    // The category menu column, as the main window's left side shows it.
    auto* column = new zs::shell::frmMenu({}, &window);
    column->setFixedWidth(200);
    auto* menuButton = column->menuButton();
    outer->addWidget(column);

    auto* right = new QWidget(&window);
    outer->addWidget(right);
    auto* layout = new QVBoxLayout(right);
    layout->addWidget(labelled("FlatButton: normale, evidenziato, disabilitato", buttonRow(right), right));
    layout->addWidget(labelled("FlatGridControl (finestra dei cubi)", cubeGrid(), right));
    auto* tabs = optionTabs();
    layout->addWidget(labelled("FlatTabControl", tabs, right));

    // The splash picture, faded in over what lies behind it.
    auto* splash = new SplashWidget;
    splash->setObjectName("picsplash");
    splash->setFixedSize(300, 60);
    layout->addWidget(labelled("SplashControl (go2)", splash, right));
    layout->addStretch();
    auto* tip = hoverTip(right);

    window.resize(860, 440);
    window.show();
    tabs->model().Refresh();

    // The category menu opens when its window is activated; the screenshot waits for the fade.
    QTimer::singleShot(50, &window, [&] {
        splash->model().go2(splashPicture(), 300);
        tip->setSourcePicture(fromQImage(right->grab().toImage()));
        tip->model().go();
        tip->model().show();
        menuButton->model().TurnOn();
        if (screenshot.isEmpty())
            return;
        QTimer::singleShot(200, &window, [&] { saveScreenshot(window, screenshot); });
    });
    return app.exec();
}
