#include "shell/qt/Placeholders.h"

#include "shell/ProgramLog.h"
#include "shell/ProgramSettings.h"
#include "shell/SettingsStore.h"

#include <QLabel>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace zs::shell {

PlaceholderOptionsDialog::PlaceholderOptionsDialog(SettingsStore& store, ProgramSettings& settings, ProgramLog& log,
                                                   QWidget* parent)
    : QWidget(parent), m_store(store), m_settings(settings), m_log(log)
{
    setObjectName("frmOpzioni");
    setWindowTitle("Opzioni principali");
    auto* layout = new QVBoxLayout(this);
    auto* title = new QLabel("Opzioni principali: passi del file di caricamento", this);
    title->setObjectName("lblModuli");
    layout->addWidget(title);
    m_view = new QTreeWidget(this);
    m_view->setObjectName("tvXML");
    m_view->setHeaderHidden(true);
    layout->addWidget(m_view);
    connect(m_view, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item, int) {
        const int index = m_view->indexOfTopLevelItem(item);
        if (index < 0 || index >= static_cast<int>(m_tree.steps().size()))
            return;
        m_tree.steps()[static_cast<std::size_t>(index)].image = item->checkState(0) == Qt::Checked ? 1 : 2;
    });
}

bool PlaceholderOptionsDialog::InitializeSettings()
{
    m_settings.TitoloApplicazione = "Zentrik Server";
    m_settings.IndiceIcona = 1;
    if (!m_store.load() || !m_store.DocImpostazioni())
        return false;
    if (const auto root = m_store.DocImpostazioni()->root()) {
        for (const std::string& problem : m_store.LeggiImpostazioni(root))
            m_log.WriteInLog(problem, true, false);
        m_store.CreaDocumentoXML(m_settings.FileCaricamento);
        engine::CaricaAlberoXML(m_tree, m_store.DocModuli().root());
    }
    refreshView();
    return true;
}

void PlaceholderOptionsDialog::refreshView()
{
    const QSignalBlocker block(m_view);
    m_view->clear();
    for (const auto& step : m_tree.steps()) {
        auto* item = new QTreeWidgetItem(m_view, {QString::fromStdString(step.text)});
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(0, step.image == 2 ? Qt::Unchecked : Qt::Checked);
        for (const auto& job : step.children)
            new QTreeWidgetItem(item, {QString::fromStdString(job.text)});
    }
}

void PlaceholderOptionsDialog::Form_ShowMe()
{
    show();
    raise();
}

void PlaceholderOptionsDialog::RicaricaModuli(bool keepTicks)
{
    std::vector<std::string> ticked;
    for (const auto& step : m_tree.steps())
        if (step.image != 2)
            ticked.push_back(step.text);
    m_store.CreaDocumentoXML(m_settings.FileCaricamento);
    engine::CaricaAlberoXML(m_tree, m_store.DocModuli().root());
    if (keepTicks)
        for (auto& step : m_tree.steps()) {
            const bool was = std::find(ticked.begin(), ticked.end(), step.text) != ticked.end();
            step.image = was ? 1 : 2;
            for (auto& job : step.children)
                job.image = step.image;
        }
    refreshView();
    std::string error;
    if (!m_store.SalvaImpostazioni(&error))
        m_log.WriteInLog(error, true, false);
}

void PlaceholderOptionsDialog::BusAndTask(const std::string& task, const std::string&, bool& ok)
{
    m_log.OutputResponse("Bus&Task non disponibile in questa installazione: " + task, true, 1);
    ok = false;
}

void PlaceholderOptionsDialog::OutputResponseDB(const std::string&) {}

PlaceholderCubeWindow::PlaceholderCubeWindow(ProgramLog& log, QWidget* parent) : QWidget(parent), m_log(log)
{
    setObjectName("frmCubi");
    setWindowTitle("Opzioni cubi");
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel("Elaborazione dei cubi non disponibile in questa installazione.", this));
    layout->addStretch();
}

void PlaceholderCubeWindow::Form_ShowMe()
{
    show();
    raise();
}

bool PlaceholderCubeWindow::process()
{
    m_log.OutputResponse("Elaborazione dei cubi non disponibile in questa installazione.", true, 1);
    return false;
}

} // namespace zs::shell
