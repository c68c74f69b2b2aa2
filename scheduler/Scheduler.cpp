#include "Scheduler.h"

#include "Operazione.h"

#include "text/ItalianFormat.h"
#include "time/Clock.h"

#include <algorithm>
#include <cmath>

namespace zs::cadenzo {

std::string delayCaption(float delaySeconds)
{
    return std::string(kCaption) + " (momentaneamente sospese per " + text::formatNumber(delaySeconds) + " sec.)";
}

std::string truthText(bool value)
{
    return value ? "Vero" : "Falso";
}

OperationRow rowFor(const clsOperazione& op)
{
    const time::DateTime& p = op.ProssimoAppuntamento();
    return {op.azione(), text::formatDate(p) + " " + text::formatTime(p).substr(0, 5), op.Periodicita(),
            truthText(op.Abilitato())};
}

Scheduler::Scheduler(SchedulerState& state, const time::Clock& clock, ITimer& pollTimer, ITimer& startTimer,
                     IYield& yield, ISchedulerView* view)
    : m_state(state)
    , m_clock(clock)
    , m_poll(pollTimer)
    , m_start(startTimer)
    , m_yield(yield)
    , m_view(view)
{
    m_poll.setEnabled(false);
    m_poll.setIntervalMs(kPollIntervalMs);
    m_start.setEnabled(false);
    setCaption(kCaption);
}

void Scheduler::AddOperation(const std::string& s)
{
    m_state.colAzioni.push_back(s);
}

std::filesystem::path Scheduler::storeFile() const
{
    return std::filesystem::path(m_folder) / kStoreFileName;
}

void Scheduler::setPollIntervalMs(int ms)
{
    m_poll.setIntervalMs(ms);
}

std::string Scheduler::caption() const
{
    return m_unsaved ? m_caption + kUnsavedMark : m_caption;
}

void Scheduler::setCaption(const std::string& caption)
{
    m_caption = caption;
    if (m_view)
        m_view->setCaption(this->caption());
}

void Scheduler::setUnsaved(bool unsaved)
{
    if (unsaved == m_unsaved)
        return;
    m_unsaved = unsaved;
    setCaption(m_caption);
}

std::vector<OperationRow> Scheduler::rows() const
{
    std::vector<OperationRow> out;
    out.reserve(m_state.colOperazioni.size());
    for (const auto& op : m_state.colOperazioni)
        out.push_back(rowFor(*op));
    return out;
}

void Scheduler::reportStoreError(const std::string& error)
{
    m_lastError = error;
    if (m_onStoreError)
        m_onStoreError(error);
}

bool Scheduler::CaricaOperazioni(std::string* error)
{
    m_state.colOperazioni.clear();
    LoadResult r = loadStore(storeFile(), m_clock, m_state.colOperazioni);
    if (!r.ok) {
        // What could not be read stays on disk: no save may replace it until a load succeeds.
        m_storeLocked = true;
        m_loadError = r.error;
        m_lastLoadErrorNumber = r.number;
        reportStoreError("Operazioni pianificate non caricate: " + r.error);
        if (error)
            *error = r.error;
        return false;
    }
    m_storeLocked = false;
    m_loadError.clear();
    m_lastError.clear();
    m_lastLoadErrorNumber = 0;
    AggiornaLista();
    return true;
}

bool Scheduler::Start(float delay, std::string* error)
{
    m_poll.setEnabled(false);
    m_start.setEnabled(false);
    if (!CaricaOperazioni(error))
        return false;
    const bool saved = !m_unsaved;
    if (!saved && error)
        *error = m_lastError;
    if (delay >= 10.0f) {
        setCaption(delayCaption(delay));
        m_start.setIntervalMs(static_cast<int>(std::lround(static_cast<double>(delay) * 1000.0)));
        m_poll.setEnabled(false);
        m_start.setEnabled(true);
    } else {
        m_start.setEnabled(false);
        m_poll.setEnabled(true);
    }
    return saved;
}

void Scheduler::AggiornaLista()
{
    if (m_view)
        m_view->showRows(rows());
    if (m_storeLocked) {
        setUnsaved(true);
        reportStoreError("Operazioni pianificate non salvate: " + storeFile().string() +
                         " non era leggibile all'avvio (" + m_loadError + ")");
        return;
    }
    std::string error;
    if (!saveStore(storeFile(), m_state.colOperazioni, &error)) {
        setUnsaved(true);
        reportStoreError("Operazioni pianificate non salvate: " + error);
        return;
    }
    setUnsaved(false);
}

void Scheduler::startTick()
{
    setCaption(kCaption);
    m_yield.yield();
    m_start.setEnabled(false);
    m_poll.setEnabled(true);
}

void Scheduler::pollTick()
{
    m_poll.setEnabled(false);
    // The host's Alarm handler may let the operator edit or remove operations, or even reload
    // the store, so the walk goes over the operations as they stood when the poll began and
    // skips any that has left the collection meanwhile.
    const OperationList snapshot = m_state.colOperazioni;
    for (const auto& op : snapshot) {
        const auto& current = m_state.colOperazioni;
        if (std::find(current.begin(), current.end(), op) == current.end())
            continue;
        if (!op->Abilitato() || std::find(m_dropped.begin(), m_dropped.end(), op) != m_dropped.end())
            continue;
        // Both sides are whole seconds already.
        if (m_clock.now() < op->ProssimoAppuntamento())
            continue;
        const time::DateTime raised = op->ProssimoAppuntamento();
        op->setAbilitato(false);
        op->CalcolaProssimoDopo(m_clock, raised);
        if (m_onAlarm) {
            m_raising.push_back(op);
            m_onAlarm(op->azione());
            m_raising.pop_back();
        }
        if (op->Periodicita() != kUnaVoltaSola) {
            op->setAbilitato(true);
        } else if (std::find(m_dropped.begin(), m_dropped.end(), op) != m_dropped.end()) {
            op->setAbilitato(true); // not spent: due as it was when it fell due
            op->setProssimoAppuntamento(raised);
        }
        AggiornaLista();
    }
    m_poll.setEnabled(true);
}

void Scheduler::alarmRunStarted()
{
    if (m_raising.empty() || m_storeLocked)
        return;
    const auto op = m_raising.back();
    const auto& current = m_state.colOperazioni;
    if (std::find(current.begin(), current.end(), op) == current.end())
        return; // removed meanwhile: the next save drops it anyway
    // Saved as it will stand after the Alarm; in memory it stays disabled until then, so that no
    // nested poll raises it again.
    op->setAbilitato(op->Periodicita() != kUnaVoltaSola);
    std::string error;
    const bool saved = saveStore(storeFile(), m_state.colOperazioni, &error);
    op->setAbilitato(false);
    if (!saved) {
        setUnsaved(true);
        reportStoreError("Operazioni pianificate non salvate: " + error);
    }
}

void Scheduler::alarmRunDropped()
{
    if (m_raising.empty())
        return;
    const auto op = m_raising.back();
    if (op->Periodicita() == kUnaVoltaSola && std::find(m_dropped.begin(), m_dropped.end(), op) == m_dropped.end())
        m_dropped.push_back(op);
}

void Scheduler::resumePolling()
{
    if (!m_start.isEnabled())
        m_poll.setEnabled(true);
}

void Scheduler::beginEdit()
{
    m_poll.setEnabled(false);
}

void Scheduler::endEdit()
{
    AggiornaLista();
    resumePolling();
}

bool Scheduler::removeAt(int position)
{
    auto& ops = m_state.colOperazioni;
    if (position < 1 || position > static_cast<int>(ops.size()))
        return false;
    beginEdit();
    ops.erase(ops.begin() + (position - 1));
    endEdit();
    return true;
}

} // namespace zs::cadenzo
