#include "engine/ExtractionRun.h"

#include "engine/CalendarTable.h"
#include "engine/EngineBackend.h"
#include "engine/EngineContext.h"
#include "engine/EngineHost.h"
#include "engine/EngineStrings.h"
#include "engine/LoadingXml.h"
#include "engine/RunState.h"
#include "engine/RunStatistics.h"
#include "engine/Staging.h"
#include "engine/StepTree.h"
#include "engine/TableOperations.h"
#include "program/ProgramLog.h"
#include "program/ProgramSettings.h"
#include "xml/XmlDocument.h"

namespace zs::engine {

namespace {

constexpr int kConnectTries = 3;
constexpr double kConnectWaitSeconds = 10.0;
// The run waits in short slices so a stop or a resume is seen at once without spinning.
constexpr int kWaitSliceMs = 50;

} // namespace

void UnconnectedEngineHost::unavailable(const std::string& what)
{
    m_log.OutputResponse("Passo non disponibile in questa installazione: " + what, true, 1);
}

void UnconnectedEngineHost::BusAndTask(const std::string& task, const std::string&, bool& ok)
{
    unavailable("BUSANDTASK " + task);
    ok = false;
}

bool UnconnectedEngineHost::CompattaDatabase(const std::string& file)
{
    unavailable("COMPATTA " + file);
    return false;
}

void UnconnectedEngineHost::Elaborazione(bool& ok)
{
    unavailable("ELABORACUBI");
    ok = false;
}

bool UnconnectedEngineHost::ImportXmlStep(const xml::Element&)
{
    unavailable("IMPORTXML");
    return false;
}

bool UnconnectedEngineHost::MailOrdersStep(const xml::Element&)
{
    unavailable("IMPORTEMAIL");
    return false;
}

bool UnconnectedEngineHost::ExecuteDtsStep(const xml::Element&)
{
    unavailable("EXECUTEDTS");
    return false;
}

ExtractionRun::ExtractionRun(const EngineContext& context, EngineHost& host, std::filesystem::path programFolder,
                             program::MessageService& messages)
    : m_ctx(context)
    , m_host(host)
    , m_programFolder(std::move(programFolder))
    , m_messages(messages)
{}

void ExtractionRun::markDone(unsigned long long node, bool ok)
{
    const program::LogNode* n = m_ctx.log.node(node);
    if (n && n->image == program::LogImage::Line)
        m_ctx.log.setImage(node, ok ? program::LogImage::Success : program::LogImage::Error);
}

bool ExtractionRun::connect()
{
    for (int attempt = 1; attempt <= kConnectTries; ++attempt) {
        if (attempt > 1) {
            const double start = m_ctx.seconds();
            while (m_ctx.seconds() - start < kConnectWaitSeconds && !m_ctx.state.stopped()) {
                m_ctx.doYield();
                m_ctx.sleep(kWaitSliceMs);
            }
            if (m_ctx.state.stopped())
                return false;
        }
        if (m_ctx.db.open())
            return !m_ctx.state.stopped();
        // The tries are for a connection that may come back, not for a file that is no database.
        if (m_ctx.db.openRefusedForGood())
            return false;
    }
    return false;
}

bool ExtractionRun::EseguiEstrazione(const StepTree& tree, const xml::Element& root)
{
    RunStatistics stats(m_programFolder / "stat.xml", m_messages);
    int stepCounter = 0;
    bool success = false;

    for (const xml::Element& element : root.children()) {
        if (element.name().empty())
            continue;
        const StepDefinition step = readStep(element, m_ctx.settings.TipoServer);
        if (!PassoSelezionato(tree, step.operazione, 0))
            continue;
        if (!connect()) {
            m_ctx.db.close();
            success = false;
            break;
        }
        success = runStep(tree, step, stepCounter, stats);
        if (m_ctx.state.stopped() || !success)
            break;
        while (m_ctx.state.StatoProcesso() == RunState::kPaused) {
            m_ctx.doYield();
            m_ctx.sleep(kWaitSliceMs);
        }
        if (m_ctx.state.stopped())
            break;
    }

    // A run ended by stop did not do all it was asked to: it never reads as a success.
    if (m_ctx.state.stopped())
        success = false;

    const program::LogNodeId line = m_ctx.log.OutputResponse("Aggiornamento statistiche di estrazione", false, 0);
    m_ctx.doYield();
    std::string error;
    // Statistics that could not be saved make the run fail: its end must not read as a success.
    if (!stats.save(&error)) {
        m_ctx.log.OutputResponse("Impossibile salvare le statistiche: " + error, true, 1);
        success = false;
    } else {
        m_ctx.log.setImage(line, program::LogImage::Success);
    }
    return success;
}

bool ExtractionRun::runStep(const StepTree& tree, const StepDefinition& step, int& stepCounter, RunStatistics& stats)
{
    TableOperations ops(m_ctx);
    const program::LogNodeId stepLine = m_ctx.db.InizioPasso(step.operazione);
    const double started = m_ctx.seconds();
    ++stepCounter;
    m_host.UpdateProgressBar(stepCounter);

    std::string watermark;
    bool success = readWatermark(step.incrementale, watermark);
    success = prepareTable(step, watermark, ops, success);
    // A special step never runs on a table whose emptying or counter reset failed, and never
    // turns that failure into success.
    const std::string& table = step.tableName;
    if (table == "STAGE" || !isSpecialTable(table)) {
        success = runJobs(tree, step, watermark, table == "STAGE", ops, success);
        stats.AggiornaStatistiche(step.operazione, m_ctx.seconds() - started);
    } else {
        success = success && runSpecialStep(step);
    }
    if (step.incrementale.attivo && step.incrementale.autoupdate && success)
        keepWatermark(step, ops);

    m_ctx.db.close();
    m_ctx.db.LogSuccesso(success);
    const program::LogNode* n = m_ctx.log.node(stepLine);
    if (n && n->image == program::LogImage::Line)
        m_ctx.log.setImage(stepLine, program::LogImage::Success);
    m_ctx.doYield();
    return success;
}

bool ExtractionRun::readWatermark(const Incremental& inc, std::string& watermark)
{
    if (!inc.attivo)
        return true;
    if (auto literal = watermarkLiteral(inc)) {
        watermark = std::move(*literal);
        return true;
    }
    m_ctx.log.OutputResponse("Valore incrementale non numerico: \"" + inc.text + "\"", true, 1);
    return false;
}

bool ExtractionRun::prepareTable(const StepDefinition& step, const std::string& watermark, TableOperations& ops,
                                 bool success)
{
    const program::ProgramSettings& settings = m_ctx.settings;
    const Incremental& inc = step.incrementale;
    const std::string& table = step.tableName;
    int restart = 1;
    if (step.svuota && success) {
        program::LogNodeId detail = 0;
        if (inc.attivo) {
            detail = m_ctx.db.DettaglioPasso("delete * from " + table + " where " + inc.svuota + " > " + watermark);
            success = ops.CancellaTabella(table, "where " + inc.svuota + " > " + watermark);
            if (program::runsOnServer(settings.TipoServer))
                restart = 0;
        } else if (settings.TipoServer == program::ServerType::SqlServer) {
            detail = m_ctx.db.DettaglioPasso("truncate table " + table);
            success = ops.SvuotaTabella(table);
        } else {
            detail = m_ctx.db.DettaglioPasso("delete * from " + table);
            success = ops.CancellaTabella(table, "");
        }
        const program::LogNode* n = m_ctx.log.node(detail);
        if (n && n->image == program::LogImage::Line)
            m_ctx.log.setImage(detail, program::LogImage::Success);
        // An emptying that ended before a stop could reach it is done, but the step goes no
        // further: nothing else of it runs once the run is stopped.
        if (m_ctx.state.stopped())
            success = false;
    }
    m_ctx.doYield();
    if (step.azzeraContatore && success)
        success = ops.AzzeraContatore(table, step.contatore, restart);
    m_ctx.doYield();
    return success;
}

bool ExtractionRun::isSpecialTable(const std::string& table)
{
    return table == "TIME" || table == "[TIME]" || table == "SINCRONIA" || table == "BUSANDTASK" ||
           table == "COMPATTA" || table == "ELABORACUBI" || table == "IMPORTXML" || table == "EXECUTEDTS" ||
           table == "IMPORTEMAIL";
}

bool ExtractionRun::runSpecialStep(const StepDefinition& step)
{
    const std::string& table = step.tableName;
    if (table == "TIME" || table == "[TIME]") {
        const std::string* years = firstJob(step);
        return years && CalendarTable(m_ctx).CreaTabellaTime(*years);
    }
    if (table == "SINCRONIA") {
        const std::string* tables = firstJob(step);
        return tables && Staging(m_ctx).Sincronizza(*tables);
    }
    if (table == "BUSANDTASK")
        return runBusAndTask(step);
    if (table == "COMPATTA") {
        m_ctx.db.close();
        return program::runsOnServer(m_ctx.settings.TipoServer) ||
               m_host.CompattaDatabase(m_ctx.settings.PercorsoAccess);
    }
    if (table == "ELABORACUBI") {
        bool ok = false;
        m_host.Elaborazione(ok);
        return ok;
    }
    if (table == "IMPORTXML")
        return m_host.ImportXmlStep(step.element);
    if (table == "EXECUTEDTS")
        return m_host.ExecuteDtsStep(step.element);
    return m_host.MailOrdersStep(step.element); // IMPORTEMAIL
}

const std::string* ExtractionRun::firstJob(const StepDefinition& step)
{
    if (step.queries.empty()) {
        m_ctx.log.OutputResponse("Il passo " + step.tableName + " non ha nessuna QUERY", true, 1);
        return nullptr;
    }
    return &step.queries.front();
}

bool ExtractionRun::runBusAndTask(const StepDefinition& step)
{
    bool success = true;
    for (std::size_t i = 1; i < step.queries.size(); ++i) {
        // Stop ends the step: no further task is started once the run is stopped.
        if (m_ctx.state.stopped())
            return false;
        bool ok = false;
        m_host.BusAndTask(step.queries.front(), step.queries[i], ok);
        // A later task that succeeds never makes up for one that failed.
        success = success && ok;
    }
    return success;
}

// The job and staging loops: the ticked jobs in order, none after a failed one.
bool ExtractionRun::runJobs(const StepTree& tree, const StepDefinition& step, const std::string& watermark,
                            bool staging, TableOperations& ops, bool success)
{
    for (std::size_t i = 0; i < step.queries.size(); ++i) {
        if (!PassoSelezionato(tree, step.operazione, static_cast<int>(i + 1)))
            continue;
        // A stop ends the step: no further job starts once the run is stopped.
        if (success && m_ctx.state.stopped())
            success = false;
        if (success) {
            if (staging) {
                const std::string& text = step.queries[i];
                const program::LogNodeId d =
                    m_ctx.db.DettaglioPasso("Caricamento tabella di stage " + text.substr(0, text.find(';')));
                success = Staging(m_ctx).CaricaStage(text);
                markDone(d, success);
            } else {
                std::string sql = step.incrementale.attivo ? replaceAll(step.queries[i], "[incrementale]", watermark)
                                                           : step.queries[i];
                const program::LogNodeId d = m_ctx.db.DettaglioPasso(sql);
                success = ops.EseguiJob(sql);
                markDone(d, success);
            }
        }
        m_ctx.doYield();
    }
    return success;
}

// The new watermark is kept only after a successful step, and never as an empty value: a
// failed or partial load must be loaded again from the old watermark.
void ExtractionRun::keepWatermark(const StepDefinition& step, TableOperations& ops)
{
    const Incremental& inc = step.incrementale;
    const std::size_t dot = inc.riempi.find('.');
    if (dot == std::string::npos) {
        m_ctx.log.OutputResponse("Campo incrementale senza tabella: \"" + inc.riempi + "\"", true, 1);
        return;
    }
    bool ok = false;
    const SqlValue max = ops.LeggiMaxIncrementale(inc.riempi.substr(0, dot), inc.riempi, &ok);
    if (!ok)
        return;
    if (auto text = watermarkText(max, inc.numerico)) {
        xml::Element target;
        for (const xml::Element& child : step.element.children())
            if (upper(child.name()) == "INCREMENTALE")
                target = child;
        target.setText(*text);
    }
}

} // namespace zs::engine
