#include "program/RunLock.h"

#include <atomic>

namespace zs::program {

namespace {
std::atomic<int> g_runLocksHeld{0};
} // namespace

RunLock::RunLock(const std::filesystem::path& programFolder)
    : FolderFileLock(programFolder, ".zentrikRun.lock")
{
    if (acquired())
        ++g_runLocksHeld;
}

RunLock::~RunLock()
{
    if (acquired())
        --g_runLocksHeld;
}

int RunLock::heldInThisProcess()
{
    return g_runLocksHeld.load();
}

std::string RunLock::refusal(const std::string& what) const
{
    if (heldElsewhere())
        return what + " non avviata: un'altra elaborazione e' in corso sulla cartella del programma " +
               programFolder().string() + ".";
    return what + " non avviata: " + error();
}

std::string RunLock::waiting(const std::string& what) const
{
    return what + " in attesa: un'altra elaborazione e' in corso sulla cartella del programma " +
           programFolder().string() + ". Sara' avviata appena la cartella sara' libera.";
}

std::string RunLock::dropped(const std::string& what, bool closing) const
{
    return what + " pianificata annullata " +
           (closing ? std::string("alla chiusura del programma") : std::string("dall'utente")) +
           ": la cartella del programma " + programFolder().string() + " era ancora occupata da un'altra elaborazione.";
}

} // namespace zs::program
