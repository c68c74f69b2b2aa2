#include "shell/qt/QtServices.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QTranslator>

#include <cmath>
#include <vector>

namespace zs::shell {

// The foundation's names used here.
using program::endingAnswer;
using program::LogImage;
using program::LogNode;
using program::LogNodeId;
using program::MessageAnswer;
using program::MessageButtons;
using program::MessageIcon;
namespace {

QIcon imageIcon(LogImage image)
{
    static std::map<int, QIcon> cache;
    const int key = static_cast<int>(image);
    if (auto it = cache.find(key); it != cache.end())
        return it->second;
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    switch (image) {
    case LogImage::Start: // a clock face
        p.setBrush(QColor(250, 220, 120));
        p.setPen(QColor(120, 90, 20));
        p.drawEllipse(2, 2, 12, 12);
        p.drawLine(8, 8, 8, 4);
        p.drawLine(8, 8, 11, 8);
        break;
    case LogImage::Success: // a green tick
        p.setPen(QPen(QColor(30, 150, 40), 2.5));
        p.drawLine(3, 9, 7, 13);
        p.drawLine(7, 13, 13, 3);
        break;
    case LogImage::Error: // a red cross
        p.setPen(QPen(QColor(210, 30, 30), 2.5));
        p.drawLine(3, 3, 13, 13);
        p.drawLine(13, 3, 3, 13);
        break;
    case LogImage::Line:
        p.setBrush(QColor(90, 120, 200));
        p.setPen(Qt::NoPen);
        p.drawEllipse(5, 5, 6, 6);
        break;
    }
    p.end();
    return cache[key] = QIcon(pm);
}

} // namespace

void QtMessageService::show(const std::string& text, MessageIcon icon, const std::string& title)
{
    if (m_hook) {
        m_hook({text, icon, title});
        return;
    }
    (void)exec(text, icon, title, QMessageBox::Ok, QMessageBox::Ok);
}

MessageAnswer QtMessageService::ask(const std::string& text, MessageIcon icon, const std::string& title,
                                    MessageButtons buttons)
{
    if (m_answerHook)
        return m_answerHook({text, icon, title});
    if (m_hook) {
        m_hook({text, icon, title});
        return endingAnswer(buttons);
    }
    int shown = QMessageBox::Yes | QMessageBox::No;
    int ending = QMessageBox::No;
    if (buttons == MessageButtons::RetryCancel) {
        shown = QMessageBox::Retry | QMessageBox::Cancel;
        ending = QMessageBox::Cancel;
    } else if (buttons == MessageButtons::AbortRetryIgnore) {
        shown = QMessageBox::Abort | QMessageBox::Retry | QMessageBox::Ignore;
        ending = QMessageBox::Abort;
    }
    switch (exec(text, icon, title, shown, ending)) {
    case QMessageBox::Retry:
        return MessageAnswer::Retry;
    case QMessageBox::Yes:
        return MessageAnswer::Yes;
    case QMessageBox::Ignore:
        return MessageAnswer::Ignore;
    default:
        return endingAnswer(buttons); // also a box closed by its window frame
    }
}

int QtMessageService::exec(const std::string& text, MessageIcon icon, const std::string& title, int buttons, int ending)
{
    const auto qicon = icon == MessageIcon::Critical      ? QMessageBox::Critical
                       : icon == MessageIcon::Question    ? QMessageBox::Question
                       : icon == MessageIcon::Exclamation ? QMessageBox::Warning
                                                          : QMessageBox::Information;
    // The box belongs to the window the operator is working in (the wizard, the main window),
    // so it stays in front of it and closing it is never taken for closing the program.
    QWidget* owner = QApplication::activeModalWidget();
    if (!owner)
        owner = QApplication::activeWindow();
    constexpr int kAbortRetryIgnore = QMessageBox::Abort | QMessageBox::Retry | QMessageBox::Ignore;
    const bool abortRetryIgnore = buttons == kAbortRetryIgnore;
    QMessageBox box(qicon, QString::fromStdString(title), QString::fromStdString(text),
                    abortRetryIgnore ? QMessageBox::NoButton : QMessageBox::StandardButtons(buttons), owner);
    box.setObjectName("messageBox");
    // The button box orders standard buttons by their roles as the desktop style wants, which
    // turns Abort, Retry, Ignore around: these three are added in their own order, one role.
    std::vector<std::pair<QAbstractButton*, int>> ordered;
    if (abortRetryIgnore) {
        for (const auto& [standard, label] :
             {std::pair{QMessageBox::Abort, "Interrompi"}, std::pair{QMessageBox::Retry, "Riprova"},
              std::pair{QMessageBox::Ignore, "Ignora"}}) {
            QPushButton* b = box.addButton(QString::fromUtf8(label), QMessageBox::ActionRole);
            b->setObjectName(QString("button%1").arg(static_cast<int>(standard)));
            ordered.emplace_back(b, standard);
            if (standard == ending)
                box.setEscapeButton(b);
        }
        box.setDefaultButton(static_cast<QPushButton*>(ordered.front().first));
    } else {
        box.setEscapeButton(QMessageBox::StandardButton(ending));
    }
    if (m_unattended) { // nobody may be there to answer: the schedule must go on
        QPointer<QMessageBox> guard(&box);
        auto close = [guard, ending] {
            if (guard)
                guard->done(ending);
        };
        if (m_timer)
            m_timer(kUnattendedTimeoutSeconds * 1000, close);
        else
            QTimer::singleShot(kUnattendedTimeoutSeconds * 1000, &box, close);
    }
    const int result = box.exec();
    if (!abortRetryIgnore)
        return result;
    for (const auto& [button, standard] : ordered)
        if (box.clickedButton() == button)
            return standard;
    return ending; // closed by the window frame or by the unattended bound
}

void QtYield::yield()
{
    if (m_extra)
        m_extra();
    QCoreApplication::processEvents();
}

QtIntervalTimer::QtIntervalTimer()
{
    QObject::connect(&m_timer, &QTimer::timeout, [this] {
        if (m_tick)
            m_tick();
    });
}

void QtIntervalTimer::start(int ms, std::function<void()> tick)
{
    m_tick = std::move(tick);
    m_timer.start(ms);
}

LogTreeView::LogTreeView(QWidget* parent)
    : QTreeWidget(parent)
{
    setHeaderHidden(true);
    setColumnCount(1);
    // Every line is one line of text with a 16-pixel picture: the view need not measure each row.
    setUniformRowHeights(true);
    m_batch.setSingleShot(true);
    connect(&m_batch, &QTimer::timeout, this, [this] { flush(); });
    m_sinceFlush.start();
}

LogTreeView::~LogTreeView()
{
    for (const Pending& p : m_pending) // not in the tree yet: the tree does not own them
        delete p.item;
}

void LogTreeView::paint(QTreeWidgetItem* item, const LogNode& node)
{
    item->setText(0, QString::fromStdString(node.text));
    item->setIcon(0, imageIcon(node.image));
    item->setData(0, kImageRole, static_cast<int>(node.image));
    item->setData(0, kIdRole, static_cast<qulonglong>(node.id));
    item->setForeground(0, QColor(node.colour.r, node.colour.g, node.colour.b));
}

void LogTreeView::nodeAdded(const LogNode& node)
{
    // Painted before it joins the tree: changes to an item in the tree make the view lay out.
    auto* item = new QTreeWidgetItem;
    paint(item, node);
    m_items[node.id] = item;
    m_pending.push_back({item, node.parent});
    if (!node.parent)
        m_scrollTo = node.id;
    schedule();
}

void LogTreeView::nodeChanged(const LogNode& node)
{
    if (auto* item = itemFor(node.id)) {
        paint(item, node);
        if (node.expanded)
            setNodeExpanded(node.id, true);
    }
}

void LogTreeView::cleared()
{
    m_batch.stop();
    for (const Pending& p : m_pending)
        delete p.item;
    m_pending.clear();
    m_expansions.clear();
    m_scrollTo.reset();
    m_items.clear();
    clear();
}

QTreeWidgetItem* LogTreeView::itemFor(LogNodeId id)
{
    const auto it = m_items.find(id);
    return it == m_items.end() ? nullptr : it->second;
}

void LogTreeView::setNodeExpanded(LogNodeId id, bool expanded)
{
    if (!m_items.count(id))
        return;
    m_expansions.emplace_back(id, expanded);
    schedule();
}

void LogTreeView::ensureNodeVisible(LogNodeId id)
{
    if (!m_items.count(id))
        return;
    m_scrollTo = id;
    schedule();
}

void LogTreeView::schedule()
{
    if (m_sinceFlush.elapsed() >= kBatchMs)
        flush();
    else if (!m_batch.isActive())
        m_batch.start(static_cast<int>(kBatchMs - m_sinceFlush.elapsed()));
}

void LogTreeView::flush()
{
    m_batch.stop();
    m_sinceFlush.restart();
    // Consecutive lines of one parent go in together: one insertion, one layout.
    QList<QTreeWidgetItem*> run;
    QTreeWidgetItem* runParent = nullptr;
    auto addRun = [&] {
        if (run.isEmpty())
            return;
        if (runParent)
            runParent->addChildren(run);
        else
            addTopLevelItems(run);
        run.clear();
    };
    for (const Pending& p : m_pending) {
        QTreeWidgetItem* parent = p.parent ? itemFor(*p.parent) : nullptr;
        if (parent != runParent)
            addRun();
        runParent = parent;
        run.push_back(p.item);
    }
    addRun();
    m_pending.clear();

    // Only the last wish for each line counts.
    std::unordered_map<LogNodeId, bool> last;
    for (const auto& [id, expanded] : m_expansions)
        last[id] = expanded;
    for (const auto& [id, expanded] : last)
        if (auto* item = itemFor(id); item && item->isExpanded() != expanded)
            item->setExpanded(expanded);
    m_expansions.clear();
    if (m_scrollTo) {
        if (auto* item = itemFor(*m_scrollTo))
            scrollToItem(item);
        m_scrollTo.reset();
    }
}

void applyProgramFont()
{
    QFont font("Arial", 9);
    font.setStyleHint(QFont::SansSerif);
    QApplication::setFont(font);
}

void applyProgramLocale()
{
    QLocale::setDefault(QLocale(QLocale::Italian, QLocale::Italy));
}

bool installProgramTranslations()
{
    static QPointer<QTranslator> installed;
    if (installed)
        return true;
    auto* translator = new QTranslator(QCoreApplication::instance());
    // The program speaks Italian whatever the machine's locale.
    if (!translator->load(QLocale(QLocale::Italian, QLocale::Italy), "qtbase", "_",
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    QCoreApplication::installTranslator(translator);
    installed = translator;
    return true;
}

} // namespace zs::shell
