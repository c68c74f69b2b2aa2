#include "dialogs/core/OpzioniCore.h"

#include "program/RunLock.h"

#include "dialogs/core/DialogPrompts.h"
#include "dialogs/core/OpzioniLayout.h"

#include "fs/Paths.h"
#include "program/LoadingDocument.h"
#include "program/ProgramLog.h"
#include "program/ProgramSettings.h"
#include "program/SettingsStore.h"
#include "program/ShellServices.h"
#include "xml/XmlDocument.h"

namespace zs::dialogs {

namespace {
const char* const kXmlFilter = "XML files (*.xml)|*.xml|All files (*.*)|*.*";
}

CreaDatabaseFn creationNotAvailable(std::function<void(const std::string&)> output)
{
    return [output = std::move(output)](const std::string&) {
        if (output)
            output("Creazione database non disponibile in questa versione del programma.\r\n");
        return false;
    };
}

OpzioniCore::OpzioniCore(OpzioniServices services, OpzioniView& view)
    : m_s(std::move(services))
    , m_view(view)
    , m_bus(m_s.registry, m_s.store, m_s.log)
{}

std::string OpzioniCore::resolve(const std::string& text) const
{
    if (text.empty())
        return text;
    return fs::resolveUserPath(text, m_s.store.programFolder()).string();
}

void OpzioniCore::fillTree()
{
    const xml::Element root = m_s.loading.DocModuli().root();
    if (!root.isNull())
        engine::CaricaAlberoXML(m_tree, root);
    else
        m_tree.clear();
}

void OpzioniCore::byHand()
{
    showByHand(m_boxes);
    m_view.setSelectionBoxes(m_boxes);
}

OpzioniCore::InitOutcome OpzioniCore::InitializeSettings()
{
    m_s.values.TitoloApplicazione = "Zentrik Server";
    m_s.values.IndiceIcona = 1;
    if (!m_s.store.load()) {
        // A settings name taken by something that cannot be read (a FIFO, a folder, a device)
        // has had its message; the wizard would replace it.
        if (m_s.wizard && !m_s.store.refused())
            m_s.wizard->showModal();
        if (m_s.endProgram)
            m_s.endProgram();
        return InitOutcome::NoSettings;
    }
    const xml::Element root = m_s.store.DocImpostazioni()->root();
    if (root.isNull())
        return InitOutcome::NoRoot;
    // A value that did not convert keeps its default; the operator reads why in the run log.
    for (const std::string& problem : m_s.store.LeggiImpostazioni(root))
        if (m_s.log)
            m_s.log->OutputResponse(problem, true, 0);
    m_s.loading.CreaDocumentoXML(resolve(m_s.values.FileCaricamento));
    fillTree();
    m_view.treeRefilled();
    m_view.setCreationXml(m_s.values.FileCreazione);
    m_view.setLoadingXml(m_s.values.FileCaricamento);
    m_view.clearBuildResponse();
    m_boxes = SelectionBoxes{};
    m_boxes.selectHandly = true;
    m_view.setSelectionBoxes(m_boxes);
    return InitOutcome::Loaded;
}

void OpzioniCore::RicaricaModuli(bool mantieniSelezione)
{
    std::map<std::string, int> ticks;
    if (mantieniSelezione)
        ticks = RememberTicks(m_tree);
    m_s.loading.CreaDocumentoXML(resolve(m_s.values.FileCaricamento));
    fillTree();
    if (mantieniSelezione)
        RestoreTicks(m_tree, ticks);
    m_view.treeRefilled();
    if (m_s.store.hasDocument()) {
        std::string error;
        if (!m_s.store.SalvaImpostazioni(&error))
            m_s.messages.show("Impossibile salvare le impostazioni: " + error, program::MessageIcon::Exclamation,
                              "Attenzione.");
    }
}

void OpzioniCore::nodeClick(const NodeRef& node)
{
    const bool changed = NodeClick(m_tree, node);
    m_view.treeChanged();
    if (changed)
        byHand();
}

void OpzioniCore::selectAllClicked(bool checked)
{
    m_boxes.selectAll = checked;
    const TreeAction a = onSelectAllClicked(m_boxes);
    if (a == TreeAction::SelectAll) {
        SelezionaTutti(m_tree);
        m_view.treeChanged();
    }
    m_view.setSelectionBoxes(m_boxes);
}

void OpzioniCore::unselectAllClicked(bool checked)
{
    m_boxes.unselectAll = checked;
    const TreeAction a = onUnselectAllClicked(m_boxes);
    if (a == TreeAction::UnselectAll) {
        DeselezionaTutti(m_tree);
        m_boxes.unselectAll = true;
        m_view.treeChanged();
    }
    m_view.setSelectionBoxes(m_boxes);
}

void OpzioniCore::selectHandlyClicked(bool checked)
{
    m_boxes.selectHandly = checked;
    onSelectHandlyClicked(m_boxes);
    m_view.setSelectionBoxes(m_boxes);
}

void OpzioniCore::rangeCommand(std::size_t target, RangeCommand command)
{
    ApplyRange(m_tree, target, command);
    m_view.treeChanged();
    byHand();
}

xml::Element OpzioniCore::stepElement(std::size_t target)
{
    if (target >= m_tree.steps().size())
        return {};
    return FindStepElement(m_s.loading.DocModuli().root(), m_tree.steps()[target].text);
}

void OpzioniCore::chooseLoadingXml()
{
    const auto chosen =
        m_s.prompts.openFile({"Selezione file XML", kXmlFilter, m_s.store.programFolder().string(), ""});
    if (!chosen)
        return; // cancelled: nothing changes
    m_view.setLoadingXml(*chosen);
    m_s.values.FileCaricamento = settingsFileName(*chosen, m_s.store.programFolder().string());
    auto doc = program::CaricaXML(resolve(m_s.values.FileCaricamento), m_s.messages);
    if (!doc) {
        // The loader has reported why; the tree keeps its nodes and a run refuses to start.
        m_s.loading.DocModuli() = xml::Document();
        return;
    }
    m_s.loading.DocModuli() = std::move(*doc);
    fillTree();
    m_view.treeRefilled();
}

void OpzioniCore::chooseCreationXml()
{
    const auto chosen =
        m_s.prompts.openFile({"Selezione file XML", kXmlFilter, m_s.store.programFolder().string(), ""});
    if (!chosen)
        return;
    m_view.setCreationXml(*chosen);
    m_s.values.FileCreazione = settingsFileName(*chosen, m_s.store.programFolder().string());
}

void OpzioniCore::buildDatabase()
{
    if (!m_s.prompts.askYesNo("Sicuro di voler procedere con questa operazione?", "Conferma"))
        return;
    bool ok = false;
    {
        // The build changes the target database: the folder is its own for its length, as a
        // run's. On a folder that a run (the program's or zs-extract's) holds it says so and
        // builds nothing.
        const program::RunLock folderLock(m_s.store.programFolder());
        if (!folderLock.acquired()) {
            const std::string refusal = folderLock.refusal("Creazione database");
            m_view.clearBuildResponse();
            m_view.appendBuildResponse(refusal + "\r\n");
            m_s.messages.show(refusal, program::MessageIcon::Exclamation, m_s.values.TitoloApplicazione);
            return;
        }
        m_view.setBusy(true);
        m_view.clearBuildResponse();
        ok = m_s.creaDatabase ? m_s.creaDatabase(resolve(m_s.values.FileCreazione)) : false;
    }
    if (ok)
        m_s.messages.show("Creazione database locale terminata senza errori.", program::MessageIcon::Information,
                          m_s.values.TitoloApplicazione);
    else
        m_s.messages.show("Creazione database locale terminata con errori:\r\ncontrollare i risultati.",
                          program::MessageIcon::Exclamation, m_s.values.TitoloApplicazione);
    m_view.setBusy(false);
}

void OpzioniCore::BusAndTask(const std::string& task, const std::string& params, bool& ok)
{
    m_bus.BusAndTask(task, params, ok);
}

} // namespace zs::dialogs
