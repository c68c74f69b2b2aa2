#include "dialogs/core/CubiCore.h"

#include "engine/DescriviErrore.h"
#include "olap/OlapServer.h"
#include "program/Crono.h"
#include "program/ProgramLog.h"
#include "program/SettingsStore.h"
#include "text/ItalianFormat.h"
#include "xml/XmlUtilities.h"

#include <algorithm>
#include <cstdio>

namespace zs::dialogs {

namespace {

constexpr int kNoticeIcon = 21; // the notice's picture in the sub-menu image list
constexpr const char* kTitle = "Attenzione.";
constexpr const char* kStylesheetLine = "<?xml-stylesheet type=\"text/xsl\" href=\"zentrik.xsl\"?>\r\n";

std::string two(int v)
{
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02d", v);
    return buf;
}

const char* boolText(bool b)
{
    return b ? "True" : "False";
}

/// The error line one level down, then the error's own number, description and source.
void describeError(program::ProgramLog& log, const std::string& firstLine, const olap::OlapError& e)
{
    engine::DescriviErrore(log, firstLine, nullptr, engine::RunTimeError{});
    if (e.number != 0)
        log.OutputResponse(engine::errorDetailLine(e.number, e.description, e.source), true, 1);
}

/// The seconds of an elapsed time as the program writes a number in text.
std::string secondsText(double seconds)
{
    return text::formatNumber(seconds);
}

/// The refresh choice a tick in grid column `colonna` stands for.
RefreshChoice choiceOfColumn(int colonna)
{
    return colonna == kColIncremental ? RefreshChoice::Incremental
           : colonna == kColDataOnly  ? RefreshChoice::DataOnly
                                      : RefreshChoice::Full;
}

/// How the OLAP server processes a cube of this refresh choice.
olap::ProcessType processTypeOf(RefreshChoice choice)
{
    switch (choice) {
    case RefreshChoice::DataOnly:
        return olap::ProcessType::RefreshData;
    case RefreshChoice::Incremental:
        return olap::ProcessType::Incremental;
    case RefreshChoice::Full:
        break;
    }
    return olap::ProcessType::Full;
}

} // namespace

std::optional<int> cubeProgressPercent(long counter, double estimatedRows)
{
    if (counter < 2 || !(estimatedRows > 0))
        return std::nullopt;
    return static_cast<int>(std::min(100.0, static_cast<double>(counter) * 100.0 / estimatedRows));
}

std::string defaultDateText(const time::DateTime& date)
{
    if (date.hour == 0 && date.minute == 0 && date.second == 0)
        return text::formatDate(date);
    return text::formatDateTime(date);
}

CubiCore::CubiCore(std::filesystem::path programFolder, const time::Clock& clock, program::MessageService& messages)
    : m_folder(std::move(programFolder))
    , m_clock(clock)
    , m_messages(messages)
{}

int CubiCore::commandTimeout() const
{
    // The processing's statements run under the settings' time-out, as the run's own do.
    return m_store ? m_store->values().TimeoutComandi : program::ProgramSettings{}.TimeoutComandi;
}

void CubiCore::pointer(int p)
{
    if (m_view)
        m_view->setMousePointer(p);
}

void CubiCore::yield()
{
    if (m_yield)
        m_yield->yield();
}

void CubiCore::connectionWarning(const olap::OlapError& error)
{
    std::string text =
        "Impossibile connettersi al server olap " + m_server + ". Controllare le opzioni di configurazione.";
    // A catalog that cannot be read says which file, where and why.
    if (error.number == olap::kErrOlapCatalog && !error.description.empty())
        text += "\r\n" + error.description;
    m_messages.show(text, program::MessageIcon::Critical, kTitle);
}

void CubiCore::Form_ShowMe()
{
    if (m_view)
        m_view->showWindow();
}

std::vector<program::InfoCubo> CubiCore::cubes() const
{
    return m_elenco;
}

InfoCubo* CubiCore::find(const std::string& nome)
{
    const auto it = m_index.find(nome);
    return it == m_index.end() ? nullptr : &m_elenco[it->second];
}

void CubiCore::clearList()
{
    m_elenco.clear();
    m_index.clear();
}

void CubiCore::addCube(const std::string& nome, RefreshChoice aggiornamento, const std::string& data)
{
    if (InfoCubo* e = find(nome)) {
        *e = {nome, aggiornamento, data};
        return;
    }
    m_index.emplace(nome, m_elenco.size());
    m_elenco.push_back({nome, aggiornamento, data});
}

void CubiCore::modifyCube(const std::string& nome, RefreshChoice aggiornamento, const std::string& data)
{
    if (InfoCubo* e = find(nome)) {
        e->aggiornamento = aggiornamento;
        e->data = data;
    }
}

void CubiCore::Inizializza()
{
    if (m_server.empty())
        return;
    olap::OlapServer server(m_folder, m_clock);
    olap::OlapError error;
    if (!server.Connect(m_server, &error) || server.State() != olap::OlapServer::kStateConnected) {
        if (m_view && m_view->isVisible())
            connectionWarning(error);
        return;
    }
    const olap::OlapDatabaseDef* db = server.database(m_database);
    if (!db)
        return;
    clearList();
    m_elenco.reserve(db->cubes.size());
    for (const auto& cube : db->cubes)
        addCube(cube.name, RefreshChoice::Full, "");
    server.CloseServer();
}

void CubiCore::AggiornaTabellaCubi()
{
    if (!m_view)
        return;
    m_view->gridBeginFill(NumeroCubi() + 1);
    int entry = 0;
    m_view->gridSetRows(0);
    m_view->gridAddRow(kCubiGridHeader);
    std::string line;
    for (const auto& e : m_elenco) {
        line.clear();
        line.append(e.nome).append("\t").append(boolText(e.aggiornamento == RefreshChoice::Incremental)).append("\t");
        line.append(boolText(e.aggiornamento == RefreshChoice::DataOnly)).append("\t");
        line.append(boolText(e.aggiornamento == RefreshChoice::Full)).append("\t").append(e.data);
        m_view->gridAddRow(line);
        const int row = m_view->gridRows();
        for (int c = kColIncremental; c <= kColFull; ++c)
            m_view->gridSetBooleanFormat(row, c);
        if (onGridRow)
            onGridRow(++entry);
    }
    m_view->gridEndFill();
}

void CubiCore::flgCubiClick(int riga, int colonna)
{
    // Grid row 1 is the header: row riga shows entry riga - 1 (counted from 1).
    const int entry = riga - kGridHeaderRow - 1;
    if (colonna < kColIncremental || colonna > kColFull || entry < 0 || entry >= NumeroCubi() || !m_view)
        return;
    if (!m_view->gridGetBool(riga, colonna))
        return;
    m_elenco[static_cast<std::size_t>(entry)].aggiornamento = choiceOfColumn(colonna);
    for (int c = kColIncremental; c <= kColFull; ++c)
        if (c != colonna)
            m_view->gridSetBool(riga, c, false);
}

bool CubiCore::flbSalvaClick()
{
    if (m_view)
        m_view->MostraAvanzamento("Attendere ...", kNoticeIcon);
    std::string error;
    const bool saved = m_store && m_store->SalvaImpostazioni(&error);
    if (m_view)
        m_view->NascondiAvanzamento();
    // A failed save is never reported as stored.
    if (!saved) {
        m_messages.show("Impossibile memorizzare le impostazioni. " + error, program::MessageIcon::Critical, kTitle);
        return false;
    }
    m_messages.show("Impostazioni memorizzate. Alcuni informazioni potrebbero risultare non aggiornate ma cambieranno "
                    "alla prossima estrazione dei dati.",
                    program::MessageIcon::Information, "Memorizzazione impostazioni.");
    return true;
}

void CubiCore::flbAggiornaClick()
{
    EsportaInfoCubi();
    AggiornaTabellaCubi();
}

bool CubiCore::process()
{
    // The refresh choices the operator set survive the re-listing, and each cube is processed
    // as its choice says; cubes new to the list start at "completo".
    const std::vector<InfoCubo> before = m_elenco;
    Inizializza();
    for (const auto& old : before)
        if (InfoCubo* e = find(old.nome))
            e->aggiornamento = old.aggiornamento;

    pointer(kPointerHourglass);
    olap::OlapServer server(m_folder, m_clock);
    server.setCommandTimeout(commandTimeout());
    olap::OlapDatabaseDef* db = openDatabase(server);
    if (!db) {
        pointer(kPointerDefault);
        return false;
    }
    server.onProgress = [this, &server](const std::string& object, long counter) {
        if (!m_run)
            return;
        // A cube carries its estimated rows; a dimension has none, and its bar stays where it is.
        double estimated = 0;
        if (olap::OlapDatabaseDef* d = server.database(m_database))
            if (const olap::CubeDef* cube = d->cube(object))
                estimated = cube->estimatedRows;
        m_run->reportProgressRows(object, counter, estimated);
    };
    const std::string database = db->name;
    m_runTotal = static_cast<int>(db->dimensions.size() + m_elenco.size());
    m_stopped = false;
    m_skipped = 0;
    runProgress(/*started=*/true);
    bool esito = processDimensions(server, *db);
    esito = processCubes(server, database, CubePass::Regular) && esito;
    esito = processCubes(server, database, CubePass::Virtual) && esito;
    if (m_stopped) {
        // Each object's rebuild is one transaction: the objects done so far stand, the others
        // keep what their previous processing left.
        if (m_log)
            m_log->OutputResponse("Elaborazione dei cubi interrotta dall'utente: " + std::to_string(m_skipped) +
                                      " oggetti non elaborati mantengono i dati dell'elaborazione precedente.",
                                  true, 0);
        esito = false;
    }
    m_runDone = m_runTotal;
    if (m_run)
        m_run->reportRunProgress(m_runDone, m_runTotal);
    server.CloseServer();
    // Settings or a snapshot that could not be written fail the run: nothing reports it else.
    esito = finishRun() && esito;
    pointer(kPointerDefault);
    return esito;
}

void CubiCore::runProgress(bool started)
{
    m_runDone = started ? 0 : std::min(m_runDone + 1, m_runTotal);
    if (m_run)
        m_run->reportRunProgress(m_runDone, m_runTotal);
}

olap::OlapDatabaseDef* CubiCore::openDatabase(olap::OlapServer& server)
{
    olap::OlapError error;
    const bool connected = server.Connect(m_server, &error);
    olap::OlapDatabaseDef* db = connected ? server.database(m_database) : nullptr;
    if (!db) {
        if (connected)
            error = {olap::kErrOlapNotFound, "Database OLAP inesistente: " + m_database, "ZentrikServer"};
        if (m_log)
            describeError(*m_log, "Errore nella connessione al database " + m_database, error);
        return nullptr;
    }
    // The objects' last processing, for the dates a failed cube keeps.
    (void)server.loadState(db->name);
    return db;
}

bool CubiCore::stopNow()
{
    if (!m_stopped && m_stopRequested && m_stopRequested())
        m_stopped = true;
    return m_stopped;
}

bool CubiCore::processObject(const std::string& name, const std::string& logText, const std::string& failText,
                             const std::function<bool(olap::OlapError&)>& work)
{
    if (m_run)
        m_run->setOggettoInElaborazione(name);
    const program::LogNodeId node = m_log ? m_log->OutputResponse(logText, false, 0) : 0;
    yield();
    // A Stop pressed while the window's events ran ends the run before this object.
    if (stopNow()) {
        ++m_skipped;
        return true;
    }
    program::Crono crono(m_clock);
    crono.AvviaCrono();
    olap::OlapError error;
    const bool ok = work(error);
    const double seconds = crono.TempoTrascorso();
    if (!ok) {
        logFailure(failText + " " + error.description, error);
        return false;
    }
    if (m_log) {
        m_log->setImage(node, program::LogImage::Success);
        const program::LogNodeId time =
            m_log->OutputResponse("tempo impiegato  " + secondsText(seconds) + " secondi.", false, 1);
        m_log->setImage(time, program::LogImage::Start);
    }
    return true;
}

void CubiCore::logFailure(const std::string& text, const olap::OlapError& e)
{
    if (m_log)
        describeError(*m_log, text, e);
}

bool CubiCore::processDimensions(olap::OlapServer& server, const olap::OlapDatabaseDef& db)
{
    std::vector<std::string> names;
    for (const auto& d : db.dimensions)
        names.push_back(d.name);
    const std::string database = db.name;
    bool ok = true;
    for (const auto& name : names) {
        if (stopNow()) {
            ++m_skipped;
            continue;
        }
        ok = processObject(name, "Elaborazione della dimensione " + name,
                           "Errore nel processamento della dimensione " + name,
                           [&](olap::OlapError& e) {
                               return server.processDimension(database, name, olap::ProcessType::Full, &e);
                           }) &&
             ok;
        runProgress();
    }
    return ok;
}

bool CubiCore::processCubes(olap::OlapServer& server, const std::string& database, CubePass pass)
{
    bool ok = true;
    for (auto& entry : m_elenco) {
        const olap::CubeDef* cube = server.database(database)->cube(entry.nome);
        if (!cube) {
            // A cube the catalog no longer declares fails once, in the first pass.
            if (pass == CubePass::Regular) {
                if (m_run)
                    m_run->setOggettoInElaborazione(entry.nome);
                logFailure("Errore nel processamento del cubo " + entry.nome + " Cubo inesistente: " + entry.nome,
                           {olap::kErrOlapNotFound, "Cubo inesistente: " + entry.nome, "ZentrikServer"});
                ok = false;
                runProgress();
            }
            continue;
        }
        if (cube->isVirtual() != (pass == CubePass::Virtual))
            continue;
        if (stopNow()) {
            // Not reached: the cube keeps the date of its previous processing.
            ++m_skipped;
            entry.data = cube->lastProcessed ? defaultDateText(*cube->lastProcessed) : "";
            continue;
        }
        const std::string name = entry.nome;
        const RefreshChoice choice = entry.aggiornamento;
        const bool done = processObject(
            name, "Sto elaborando il cubo " + cube->name, "Errore nel processamento del cubo " + name,
            [&](olap::OlapError& e) { return server.processCube(database, name, processTypeOf(choice), &e); });
        // A failed cube keeps the date of its previous processing.
        const olap::CubeDef* after = server.database(database)->cube(name);
        entry.data = after && after->lastProcessed ? defaultDateText(*after->lastProcessed) : "";
        ok = done && ok;
        runProgress();
    }
    return ok;
}

bool CubiCore::writeAsking(const std::function<bool(std::string& error)>& write, const std::string& what,
                           std::string& error)
{
    for (;;) {
        error.clear();
        if (write(error))
            return true;
        if (error.empty())
            error = "errore sconosciuto";
        if (m_messages.ask(error + "[0]\r\n" + what, program::MessageIcon::Critical, kTitle,
                           program::MessageButtons::AbortRetryIgnore) != program::MessageAnswer::Retry)
            return false;
    }
}

bool CubiCore::finishRun()
{
    // What fails after the cubes is no cube's failure: a red line of its own, at the top level,
    // so the last cube (which was processed) keeps its mark.
    auto failedSave = [this](const std::string& description) {
        if (!m_log)
            return;
        m_log->OutputResponse(description, true, 0);
        m_log->OutputResponse(engine::errorDetailLine(olap::kErrOlapCatalog, description, "ZentrikServer"), true, 1);
    };
    bool ok = true;
    if (m_store) {
        std::string error;
        if (!writeAsking([this](std::string& e) { return m_store->SalvaImpostazioni(&e); }, "zentrikServer.xml",
                         error)) {
            failedSave("Impostazioni non memorizzate: " + error);
            ok = false;
        }
    }
    std::string failure;
    if (!EsportaInfoCubi(&failure)) {
        failedSave(failure);
        ok = false;
    }
    AggiornaTabellaCubi();
    return ok;
}

bool CubiCore::EsportaInfoCubi(std::string* failure)
{
    pointer(kPointerHourglass);
    if (m_view)
        m_view->MostraAvanzamento("Aggiornamento dati Olap in corso...", kNoticeIcon);
    yield();
    auto restore = [this] {
        pointer(kPointerDefault);
        if (m_view)
            m_view->NascondiAvanzamento();
    };

    auto failed = [&](const std::string& reason) {
        if (failure)
            *failure = std::string(kCubiSnapshotFile) + " non scritto: " + reason;
        restore();
        return false;
    };

    olap::OlapServer server(m_folder, m_clock);
    server.setCommandTimeout(commandTimeout());
    olap::OlapError error;
    if (!server.Connect(m_server, &error) || server.State() != olap::OlapServer::kStateConnected) {
        connectionWarning(error);
        return failed(error.description.empty() ? "server OLAP " + m_server + " non raggiungibile" : error.description);
    }
    const olap::OlapDatabaseDef* db = server.database(m_database);
    if (!db)
        return failed("Database OLAP inesistente: " + m_database);
    (void)server.loadState(db->name); // unreachable target: the objects show as never processed

    xml::Document doc;
    xml::Element cubi = doc.createRoot("Olap").appendChild("Cubi");
    for (const olap::CubeDef& cube : db->cubes) {
        xml::Element cubo = cubi.appendChild("cubo");
        auto add = [&](const std::string& name, const std::string& value) { cubo.appendChild(name).setText(value); };
        add("nome", cube.name);
        const bool regular = !cube.isVirtual();
        if (regular)
            for (std::size_t k = 0; k < cube.dataSources.size(); ++k)
                add("DataSources_" + std::to_string(k + 1), cube.dataSources[k]);
        add("DefaultMeasure", cube.defaultMeasure);
        add("Description", cube.description);
        add("EstimatedRows", text::formatNumber(cube.estimatedRows));
        add("EstimatedSize", text::formatNumber(cube.estimatedSize));
        const bool processed = cube.state != olap::kStateUnprocessed;
        if (processed && cube.lastProcessed)
            add("LastProcessed", text::formatDate(*cube.lastProcessed) + " " + two(cube.lastProcessed->hour) + ":" +
                                     two(cube.lastProcessed->minute));
        if (processed && cube.lastUpdated)
            add("LastUpdated", two(cube.lastUpdated->hour) + ":" + two(cube.lastUpdated->minute));
        if (InfoCubo* entry = find(cube.name))
            entry->data = processed && cube.lastProcessed ? defaultDateText(*cube.lastProcessed) : "";
        for (std::size_t k = 0; k < cube.dimensions.size(); ++k)
            add("Dimensions_" + std::to_string(k + 1), cube.dimensions[k].name);
        for (std::size_t k = 0; k < cube.measures.size(); ++k)
            add("Measures_" + std::to_string(k + 1), cube.measures[k].name);
        if (regular) {
            add("OlapMode", std::to_string(cube.olapMode));
            add("ProcessOptimizationMode", std::to_string(cube.processOptimizationMode));
            add("SourceTable", cube.sourceTable);
            add("SourceTableAlias", cube.sourceTableAlias);
            add("SourceTableFilter", cube.sourceTableFilter);
        }
        add("State", std::to_string(cube.state));
        add("SubClassType", std::to_string(cube.subClassType));
    }
    server.CloseServer();

    const std::string content = kStylesheetLine + doc.xml();
    std::string writeError;
    if (!writeAsking([&](std::string& e) { return xml::SaveUtf8File(m_folder / kCubiSnapshotFile, content, &e); },
                     kCubiSnapshotFile, writeError))
        return failed(writeError);
    restore();
    return true;
}

xml::Element CubiCore::SetSettingsGeneral(xml::Element node, const std::string& path, const std::string& value)
{
    std::string v = value;
    if (v == "Vero" || v == "True")
        v = "vero";
    else if (v == "Falso" || v == "False")
        v = "falso";
    const auto dot = path.find('.');
    const std::string name = path.substr(0, dot);
    xml::Element e = node.child(name);
    if (e.isNull())
        e = node.appendChild(name);
    if (dot == std::string::npos)
        e.setText(v);
    else
        e.setAttribute(path.substr(dot + 1), v);
    return e;
}

} // namespace zs::dialogs
