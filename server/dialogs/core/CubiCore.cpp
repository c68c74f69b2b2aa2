#include "dialogs/core/CubiCore.h"

#include "engine/DescriviErrore.h"
#include "xml/XmlUtilities.h"
#include "olap/OlapServer.h"
#include "shell/Crono.h"
#include "shell/ProgramLog.h"
#include "shell/SettingsStore.h"
#include "text/ItalianFormat.h"

#include <algorithm>
#include <cstdio>
#include <map>

namespace zs::dialogs {

namespace {

constexpr int kHourglass = 11;
constexpr int kNoticeIcon = 21;
constexpr const char* kTitle = "Attenzione.";
constexpr const char* kStylesheetLine = "<?xml-stylesheet type=\"text/xsl\" href=\"zentrik.xsl\"?>\r\n";

std::string two(int v)
{
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02d", v);
    return buf;
}

std::string boolText(bool b) { return b ? "True" : "False"; }

/// The error line one level down, then the error's own number, description and source.
void describeError(shell::ProgramLog& log, const std::string& firstLine, const olap::OlapError& e)
{
    engine::DescriviErrore(log, firstLine, nullptr, engine::RunTimeError{});
    if (e.number != 0)
        log.OutputResponse(engine::errorDetailLine(e.number, e.description, e.source), true, 1);
}

/// The seconds of an elapsed time as the program writes a number in text.
std::string secondsText(double seconds) { return text::formatNumber(seconds); }

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

CubiCore::CubiCore(std::filesystem::path programFolder, const time::Clock& clock, shell::MessageService& messages)
    : m_folder(std::move(programFolder)), m_clock(clock), m_messages(messages)
{
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

void CubiCore::connectionWarning()
{
    m_messages.show("Impossibile connettersi al server olap " + m_server + ". Controllare le opzioni di configurazione.",
                    shell::MessageIcon::Critical, kTitle);
}

void CubiCore::Form_ShowMe()
{
    if (m_view)
        m_view->showWindow();
}

std::vector<shell::InfoCubo> CubiCore::cubes() const
{
    return {m_elenco.begin() + 1, m_elenco.begin() + 1 + m_numeroCubi};
}

void CubiCore::addCube(const std::string& nome, int aggiornamento, const std::string& data)
{
    for (int i = 1; i <= m_numeroCubi; ++i) {
        auto& e = m_elenco[static_cast<std::size_t>(i)];
        if (e.nome == nome) {
            e = {nome, aggiornamento, data};
            return;
        }
    }
    ++m_numeroCubi;
    m_elenco.resize(static_cast<std::size_t>(m_numeroCubi) + 1);
    m_elenco[static_cast<std::size_t>(m_numeroCubi)] = {nome, aggiornamento, data};
}

void CubiCore::modifyCube(const std::string& nome, int aggiornamento, const std::string& data)
{
    for (int i = 1; i <= m_numeroCubi; ++i) {
        auto& e = m_elenco[static_cast<std::size_t>(i)];
        if (e.nome == nome) {
            e.aggiornamento = aggiornamento;
            e.data = data;
            return;
        }
    }
}

void CubiCore::Inizializza()
{
    if (m_server.empty())
        return;
    olap::OlapServer server(m_folder, m_clock);
    if (!server.Connect(m_server) || server.State() != 1) {
        if (m_view && m_view->isVisible())
            connectionWarning();
        return;
    }
    const olap::OlapDatabaseDef* db = server.database(m_database);
    if (!db)
        return;
    m_numeroCubi = 0;
    m_elenco.resize(1);
    for (const auto& cube : db->cubes)
        addCube(cube.name, 0, "");
    server.CloseServer();
}

void CubiCore::AggiornaTabellaCubi()
{
    if (!m_view)
        return;
    m_view->gridSetRows(0);
    m_view->gridAddRow(kCubiGridHeader);
    for (int i = 1; i <= m_numeroCubi; ++i) {
        const auto& e = m_elenco[static_cast<std::size_t>(i)];
        m_view->gridAddRow(e.nome + "\t" + boolText(e.aggiornamento == 2) + "\t" + boolText(e.aggiornamento == 1) + "\t" +
                           boolText(e.aggiornamento == 0) + "\t" + e.data);
        const int row = m_view->gridRows();
        for (int c = 2; c <= 4; ++c)
            m_view->gridSetBooleanFormat(row, c);
    }
}

void CubiCore::flgCubiClick(int riga, int colonna)
{
    if (colonna < 2 || colonna > 4 || riga < 2 || riga - 1 > m_numeroCubi || !m_view)
        return;
    if (!m_view->gridGetBool(riga, colonna))
        return;
    m_elenco[static_cast<std::size_t>(riga - 1)].aggiornamento = colonna == 2 ? 2 : colonna == 3 ? 1 : 0;
    for (int c = 2; c <= 4; ++c)
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
        m_messages.show("Impossibile memorizzare le impostazioni. " + error, shell::MessageIcon::Critical, kTitle);
        return false;
    }
    m_messages.show("Impostazioni memorizzate. Alcuni informazioni potrebbero risultare non aggiornate ma cambieranno "
                    "alla prossima estrazione dei dati.",
                    shell::MessageIcon::Information, "Memorizzazione impostazioni.");
    return true;
}

void CubiCore::flbAggiornaClick()
{
    EsportaInfoCubi();
    AggiornaTabellaCubi();
}

bool CubiCore::process()
{
    bool esito = false;
    process(esito);
    return esito;
}

void CubiCore::process(bool& esito)
{
    // The refresh choices the operator set survive the re-listing, and each cube is processed
    // as its choice says; cubes new to the list start at "completo".
    std::map<std::string, int> choices;
    for (const auto& e : cubes())
        choices[e.nome] = e.aggiornamento;
    Inizializza();
    for (int i = 1; i <= m_numeroCubi; ++i) {
        auto& e = m_elenco[static_cast<std::size_t>(i)];
        if (auto it = choices.find(e.nome); it != choices.end())
            e.aggiornamento = it->second;
    }

    esito = true;
    pointer(kHourglass);
    olap::OlapServer server(m_folder, m_clock);
    olap::OlapError connectError;
    const bool connected = server.Connect(m_server, &connectError);
    olap::OlapDatabaseDef* db = connected ? server.database(m_database) : nullptr;
    if (!db) {
        pointer(0);
        if (m_log) {
            const olap::OlapError current =
                connected ? olap::OlapError{olap::kErrOlapNotFound, "Database OLAP inesistente: " + m_database, "zs::olap"}
                          : connectError;
            describeError(*m_log, "Errore nella connessione al database " + m_database, current);
        }
        esito = false;
        return;
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
    shell::Crono crono(m_clock);
    const std::string dbName = db->name;

    auto logLine = [this](const std::string& text, int level) -> shell::LogNodeId {
        return m_log ? m_log->OutputResponse(text, false, level) : 0;
    };
    auto succeeded = [&](shell::LogNodeId node, double seconds) {
        if (!m_log)
            return;
        m_log->setImage(node, shell::LogImage::Success);
        const shell::LogNodeId t = m_log->OutputResponse("tempo impiegato  " + secondsText(seconds) + " secondi.", false, 1);
        m_log->setImage(t, shell::LogImage::Start);
    };
    auto failed = [&](const std::string& first, const olap::OlapError& e) {
        if (m_log)
            describeError(*m_log, first + " " + e.description, e);
        esito = false;
    };

    // Dimensions, then regular cubes, then virtual cubes (built on the others).
    std::vector<std::string> dimensions;
    for (const auto& d : db->dimensions)
        dimensions.push_back(d.name);
    for (const auto& name : dimensions) {
        if (m_run)
            m_run->setOggettoInElaborazione(name);
        const shell::LogNodeId node = logLine("Elaborazione della dimensione " + name, 0);
        yield();
        crono.AvviaCrono();
        olap::OlapError e;
        if (server.processDimension(dbName, name, olap::ProcessType::Full, &e))
            succeeded(node, crono.TempoTrascorso());
        else
            failed("Errore nel processamento della dimensione " + name, e);
    }

    for (int pass = 0; pass < 2; ++pass) {
        for (int i = 1; i <= m_numeroCubi; ++i) {
            auto& entry = m_elenco[static_cast<std::size_t>(i)];
            if (m_run)
                m_run->setOggettoInElaborazione(entry.nome);
            const olap::CubeDef* cube = server.database(dbName)->cube(entry.nome);
            if (!cube) {
                if (pass == 0)
                    failed("Errore nel processamento del cubo " + entry.nome,
                           {olap::kErrOlapNotFound, "Cubo inesistente: " + entry.nome, "zs::olap"});
                continue;
            }
            if (cube->isVirtual() != (pass == 1))
                continue;
            const shell::LogNodeId node = logLine("Sto elaborando il cubo " + cube->name, 0);
            yield();
            crono.AvviaCrono();
            olap::OlapError e;
            const bool ok = server.processCube(dbName, entry.nome, olap::processTypeForChoice(entry.aggiornamento), &e);
            const double seconds = crono.TempoTrascorso();
            // A failed cube keeps the date of its previous processing.
            entry.data = cube->lastProcessed ? defaultDateText(*cube->lastProcessed) : "";
            if (ok)
                succeeded(node, seconds);
            else
                failed("Errore nel processamento del cubo " + entry.nome, e);
        }
    }

    server.CloseServer();
    if (m_store) {
        std::string error;
        if (!m_store->SalvaImpostazioni(&error) && m_log)
            describeError(*m_log, "Errore nel processamento del cubo " + m_database + " " + error,
                          {olap::kErrOlapCatalog, error, "zs::dialogs"});
    }
    EsportaInfoCubi();
    AggiornaTabellaCubi();
    pointer(0);
}

bool CubiCore::EsportaInfoCubi()
{
    pointer(kHourglass);
    if (m_view)
        m_view->MostraAvanzamento("Aggiornamento dati Olap in corso...", kNoticeIcon);
    yield();
    auto restore = [this] {
        pointer(0);
        if (m_view)
            m_view->NascondiAvanzamento();
    };

    olap::OlapServer server(m_folder, m_clock);
    if (!server.Connect(m_server) || server.State() != 1) {
        connectionWarning();
        restore();
        return false;
    }
    const olap::OlapDatabaseDef* db = server.database(m_database);
    if (!db) {
        restore();
        return false;
    }

    xml::Document doc;
    xml::Element cubi = doc.createRoot("Olap").appendChild("Cubi");
    for (const olap::CubeDef& cube : db->cubes) {
        xml::Element cubo = cubi.appendChild("cubo");
        auto add = [&](const std::string& name, const std::string& value) { cubo.appendChild(name).setText(value); };
        add("nome", cube.name);
        const bool regular = cube.subClassType != 1;
        if (regular)
            for (std::size_t k = 0; k < cube.dataSources.size(); ++k)
                add("DataSources_" + std::to_string(k + 1), cube.dataSources[k]);
        add("DefaultMeasure", cube.defaultMeasure);
        add("Description", cube.description);
        add("EstimatedRows", text::formatNumber(cube.estimatedRows));
        add("EstimatedSize", text::formatNumber(cube.estimatedSize));
        if (cube.state != 0 && cube.lastProcessed)
            add("LastProcessed", text::formatDate(*cube.lastProcessed) + " " + two(cube.lastProcessed->hour) + ":" +
                                     two(cube.lastProcessed->minute));
        if (cube.state != 0 && cube.lastUpdated)
            add("LastUpdated", two(cube.lastUpdated->hour) + ":" + two(cube.lastUpdated->minute));
        for (int i = 1; i <= m_numeroCubi; ++i) {
            auto& entry = m_elenco[static_cast<std::size_t>(i)];
            if (entry.nome == cube.name) {
                entry.data = cube.state != 0 && cube.lastProcessed ? defaultDateText(*cube.lastProcessed) : "";
                break;
            }
        }
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
    bool written = false;
    for (;;) {
        std::string error;
        if (xml::SaveUtf8File(m_folder / kCubiSnapshotFile, content, &error)) {
            written = true;
            break;
        }
        const std::string text = error + "[0]\r\n" + kCubiSnapshotFile;
        FailureAnswer answer = FailureAnswer::Abort;
        if (askFailure)
            answer = askFailure(text);
        else
            m_messages.show(text, shell::MessageIcon::Critical, kTitle);
        if (answer != FailureAnswer::Retry)
            break;
    }
    restore();
    return written;
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
