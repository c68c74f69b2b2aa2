#include "engine/ImportMoves.h"

#include "db/Connection.h"
#include "engine/ImportError.h"
#include "engine/ImportRecord.h"
#include "fs/AtomicFile.h"
#include "fs/FileMoves.h"
#include "fs/FileOps.h"
#include "program/ProgramLog.h"
#include "text/SystemReason.h"

#include <cerrno>

namespace zs::engine {
namespace {
namespace stdfs = std::filesystem;
}

ImportMoves::ImportMoves(program::ProgramLog& log, fs::FileOps& ops, std::function<void(ImportCommitPoint)> reached)
    : m_log(log)
    , m_ops(ops)
    , m_reached(std::move(reached))
{}

bool ImportMoves::readyToMove(const stdfs::path& file, const stdfs::path& old, stdfs::path& copy, std::string& why)
{
    const stdfs::path target = old / file.filename();
    std::error_code ec;
    if (!stdfs::is_directory(old, ec) && !stdfs::create_directory(old, ec) && !stdfs::is_directory(old))
        why = "impossibile creare la cartella " + old.string() + ": " + text::systemReason(ec);
    else if (stdfs::exists(stdfs::symlink_status(target, ec)))
        why = "esiste già un file con lo stesso nome in " + old.string();
    else if (!fs::sameFileSystem(file, old, m_ops) && fs::copyFlushed(file, old, target, copy, why, m_ops))
        m_reached(ImportCommitPoint::Copied);
    return why.empty();
}

void ImportMoves::moveFailed(const stdfs::path& file, const stdfs::path& old, const std::string& why)
{
    m_log.OutputResponse("Errore nello spostamento del file " + file.string() + " in " + old.string() + "-" + why, true,
                         1);
}

bool ImportMoves::completeMove(const stdfs::path& file, const stdfs::path& old, const stdfs::path& copy,
                               std::string& why)
{
    const stdfs::path target = old / file.filename();
    if (copy.empty()) {
        if (!fs::renameNoReplace(file, target, m_ops)) {
            why = errno == EEXIST ? "esiste già un file con lo stesso nome in " + old.string()
                                  : text::systemReason(errno);
            return false;
        }
    } else {
        if (!fs::renameNoReplace(copy, target, m_ops)) {
            why = errno == EEXIST ? "esiste già un file con lo stesso nome in " + old.string()
                                  : text::systemReason(errno);
            m_ops.unlink(copy.c_str());
            return false;
        }
        fs::syncFolder(old, m_ops); // the copy's name is on the disk before the original goes
        m_reached(ImportCommitPoint::Placed);
        if (!removeOriginal(file, why))
            return false;
    }
    fs::syncFolder(old, m_ops);
    fs::syncFolder(file.parent_path(), m_ops);
    return true;
}

bool ImportMoves::move(const stdfs::path& file, const stdfs::path& old, std::string& why)
{
    stdfs::path copy;
    return readyToMove(file, old, copy, why) && completeMove(file, old, copy, why);
}

bool ImportMoves::reconcile(db::Connection& c, const stdfs::path& folder, const stdfs::path& old,
                            std::set<std::string>& loaded, bool& ok, std::string& reason)
{
    std::error_code ec;
    if (stdfs::is_directory(old, ec))
        (void)fs::removeStaleTemporaries(old); // copies an interrupted move left there
    const auto records = loadedFiles(c, folder.string());
    if (!records) {
        // Without the records no file can be told loaded or not: none is loaded.
        reason = "Tabella " + std::string(kLoadedTable) + ": " + errorText(c);
        return false;
    }
    for (const LoadedFile& record : *records)
        if (!finishRecorded(c, folder, old, record, loaded))
            ok = false;
    return true;
}

bool ImportMoves::finishRecorded(db::Connection& c, const stdfs::path& folder, const stdfs::path& old,
                                 const LoadedFile& record, std::set<std::string>& loaded)
{
    const std::string& name = record.name;
    const stdfs::path queued = folder / name;
    const std::string forget = forgetSql(folder.string(), name);
    int error = 0;
    const bool plainName = !name.empty() && name.find('/') == std::string::npos;
    const auto identity = plainName ? fs::identityOf(queued, m_ops, error) : std::nullopt;
    if (error != 0 && error != ENOENT) {
        // Whether the file is still queued cannot be told: its record stays, and it is not
        // loaded again; the next start looks again.
        loaded.insert(name);
        moveFailed(queued, old, "il file già importato non può essere esaminato: " + text::systemReason(error));
        return false;
    }
    if (identity != record.identity) {
        // The file left the queue (a crash after its move), or another file has its name now.
        (void)c.execute(forget);
        return true;
    }
    // Its rows are in: it only has to move.
    loaded.insert(name);
    m_log.WriteInLog("importazione xml del file " + queued.stem().string() +
                         " già eseguita: il file viene spostato in " + old.string(),
                     false, false);
    std::string why;
    const auto there = fs::identityOf(old / name, m_ops);
    // When the move had placed it already, only the original is left to remove.
    const bool moved = there && *there == record.identity ? removeOriginal(queued, why) : move(queued, old, why);
    if (!moved) {
        moveFailed(queued, old, why);
        return false;
    }
    (void)c.execute(forget);
    return true;
}

bool ImportMoves::removeOriginal(const stdfs::path& file, std::string& why)
{
    if (m_ops.unlink(file.c_str()) == 0)
        return true;
    why = "il file importato non può essere rimosso: " + text::systemReason(errno);
    return false;
}

} // namespace zs::engine
