#include "engine/Connessioni.h"

#include "db/Connection.h"
#include "db/ConnectionString.h"
#include "program/Crono.h"
#include "program/ProgramSettings.h"
#include "program/ShellServices.h"
#include "text/ItalianFormat.h"

#include <chrono>
#include <cmath>
#include <thread>
#include <vector>

namespace zs::engine {

namespace {

constexpr const char* kSource = "ZentrikServer";

std::vector<std::string> splitItems(const std::string& text)
{
    std::vector<std::string> items;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = text.find(';', start);
        items.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return items;
}

} // namespace

Connessioni::Connessioni(program::ProgramLog& log, const program::ProgramSettings& settings, program::Crono& crono,
                         program::YieldHook& yield)
    : m_log(log)
    , m_settings(settings)
    , m_crono(crono)
    , m_yield(yield)
    , m_sleep([](int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); })
{}

Connessioni::~Connessioni() = default;

bool Connessioni::isServerType() const
{
    return program::runsOnServer(m_settings.TipoServer);
}

double Connessioni::leadingNumber(std::string_view text)
{
    std::string s;
    for (char c : text)
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n')
            s += c;
    std::size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-'))
        ++i;
    const std::size_t digitsStart = i;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i])))
        ++i;
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i])))
            ++i;
    }
    if (i == digitsStart || (i == digitsStart + 1 && s[digitsStart] == '.'))
        return 0;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        std::size_t j = i + 1;
        if (j < s.size() && (s[j] == '+' || s[j] == '-'))
            ++j;
        if (j < s.size() && std::isdigit(static_cast<unsigned char>(s[j]))) {
            while (j < s.size() && std::isdigit(static_cast<unsigned char>(s[j])))
                ++j;
            i = j;
        }
    }
    try {
        return std::stod(s.substr(0, i));
    } catch (const std::exception&) {
        return 0;
    }
}

void Connessioni::pause()
{
    if (!m_readPause)
        return;
    const auto text = m_readPause();
    if (!text)
        return;
    const double ms = leadingNumber(*text);
    // At most a day: a pause is a courtesy to a busy server, not a way to stop the run.
    if (ms >= 0.5 && ms <= 86'400'000.0)
        m_sleep(static_cast<int>(std::nearbyint(ms)));
}

bool Connessioni::ApriConnessione(const std::string& providerAccess, const std::string& percorsoAccess)
{
    pause();
    m_connessione = std::make_shared<db::Connection>();
    // Every statement of the step, whoever sends it, runs under the settings' time-out.
    m_connessione->setCommandTimeout(m_settings.TimeoutComandi);
    const std::string cs = providerAccess + percorsoAccess + ";";
    if (!m_connessione->open(cs)) {
        m_currentError = {};
        DescriviErrore("Impossibile aprire la connessione:" + db::maskPasswords(cs));
        return false;
    }
    m_log.WriteInLog("Apertura connessione:" + m_connessione->reportedConnectionString(), false, false);
    return true;
}

std::optional<std::string> Connessioni::buildServerConnectionString(const std::string& providerTemplate,
                                                                    const std::string& server,
                                                                    const std::string& database,
                                                                    const std::string& user,
                                                                    const std::string& password, std::string& reason)
{
    std::vector<std::string> items = splitItems(providerTemplate);
    if (items.size() < 5) {
        reason = "Il testo del provider ha " + std::to_string(items.size()) +
                 " elementi separati da \";\": ne servono almeno cinque (provider, server, database, utente, password)";
        return std::nullopt;
    }
    const std::pair<const char*, const std::string*> values[] = {{"il nome del server", &server},
                                                                 {"il nome del database", &database},
                                                                 {"l'utente", &user},
                                                                 {"la password", &password}};
    for (const auto& [what, value] : values)
        if (value->find(';') != std::string::npos) {
            reason = std::string("Impossibile comporre la stringa di connessione: ") + what + " contiene \";\"";
            return std::nullopt;
        }
    items[1] += server;
    items[2] += database;
    items[3] += user;
    items[4] += password;
    std::string joined;
    for (std::size_t i = 0; i < items.size(); ++i)
        joined += (i ? ";" : "") + items[i];
    return joined;
}

bool Connessioni::ApriConnessioneServer(const std::string& providerTemplate, const std::string& server,
                                        const std::string& database, const std::string& user,
                                        const std::string& password)
{
    pause();
    auto masked = [&](const std::string& text) { return db::maskSecret(db::maskPasswords(text), password); };
    std::string reason;
    const auto cs = buildServerConnectionString(providerTemplate, server, database, user, password, reason);
    m_connessioneServer.reset();
    if (!cs) {
        m_currentError = {5, reason, kSource};
        zs::engine::DescriviErrore(m_log, "Impossibile aprire la connessione al database:" + masked(providerTemplate),
                                   nullptr, m_currentError);
        return false;
    }
    m_connessioneServer = std::make_shared<db::Connection>();
    m_connessioneServer->setCommandTimeout(m_settings.TimeoutComandi);
    if (!m_connessioneServer->open(*cs)) {
        // The server connection's own errors say why (a refused login, an unknown server).
        m_currentError = {};
        zs::engine::DescriviErrore(m_log, "Impossibile aprire la connessione al database:" + masked(*cs),
                                   m_connessioneServer.get(), m_currentError);
        return false;
    }
    m_log.WriteInLog("Apertura connessione:" + masked(m_connessioneServer->reportedConnectionString()), false, false);
    if (isServerType())
        m_connessione = m_connessioneServer;
    return true;
}

void Connessioni::ChiudiConnessione()
{
    if (m_connessione && m_connessione->isOpen())
        m_connessione->close();
    m_connessione.reset();
}

void Connessioni::ChiudiConnessioni()
{
    if (m_connessioneServer && m_connessioneServer->isOpen())
        m_connessioneServer->close();
    m_connessioneServer.reset();
    if (isServerType())
        m_connessione.reset();
}

program::LogNodeId Connessioni::InizioPasso(std::string_view text)
{
    const program::LogNodeId node = m_log.OutputResponse(text, false, 0);
    if (m_view.setExpanded)
        m_view.setExpanded(node, true);
    m_yield.yield();
    m_stepStart = m_crono.AvviaCrono();
    return node;
}

program::LogNodeId Connessioni::DettaglioPasso(std::string_view text)
{
    const program::LogNodeId node = m_log.OutputResponse(text, false, 1);
    if (const auto parent = m_log.currentParent(); parent && m_view.setExpanded)
        m_view.setExpanded(*parent, true);
    m_yield.yield();
    return node;
}

std::string Connessioni::testoTempo(double seconds)
{
    if (!(seconds >= 0))
        return "0";
    // Rounded to the millisecond before splitting, so 119.9996 s reads "2 minuti e 0".
    const auto ms = static_cast<std::int64_t>(std::llround(seconds * 1000.0));
    const std::int64_t minutes = ms / 60000;
    const double rest = static_cast<double>(ms % 60000) / 1000.0;
    const std::string restText = text::formatNumber(rest);
    if (minutes == 0)
        return restText;
    return std::to_string(minutes) + " minuti e " + restText;
}

void Connessioni::LogSuccesso(bool success)
{
    const std::int32_t stop = m_crono.FermaCrono();
    if (!success)
        return;
    // The tick wraps like a 32-bit counter: subtract as unsigned, read as signed.
    const auto elapsedMs =
        static_cast<std::int32_t>(static_cast<std::uint32_t>(stop) - static_cast<std::uint32_t>(m_stepStart));
    const double seconds = static_cast<double>(elapsedMs) / 1000.0;
    const program::LogNodeId node =
        m_log.OutputResponse("eseguito con successo in " + testoTempo(seconds) + " secondi.", false, 1);
    m_log.setImage(node, program::LogImage::Start);
    if (const auto parent = m_log.currentParent()) {
        if (m_view.setExpanded)
            m_view.setExpanded(*parent, false);
        if (m_view.ensureVisible)
            m_view.ensureVisible(*parent);
    }
    m_yield.yield();
}

void Connessioni::DescriviErrore(std::string_view firstLine, const RunTimeError& current)
{
    zs::engine::DescriviErrore(m_log, firstLine, m_connessione.get(), current);
}

void Connessioni::DescriviErrore(std::string_view firstLine)
{
    zs::engine::DescriviErrore(m_log, firstLine, m_connessione.get(), m_currentError);
}

} // namespace zs::engine
