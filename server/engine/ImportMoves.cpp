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
        if (m_ops.unlink(file.c_str()) != 0) {
            why = "il file importato non può essere rimosso: " + text::systemReason(errno);
            return false;
        }
    }
    fs::syncFolder(old, m_ops);
    fs::syncFolder(file.parent_path(), m_ops);
    return true;
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
    for (const LoadedFile& record : *records) {
        const std::string& name = record.name;
        const fs::FileIdentity& recorded = record.identity;
        const stdfs::path queued = folder / name;
        const std::string forget = forgetSql(folder.string(), name);
        if (name.empty() || name.find('/') != std::string::npos || fs::identityOf(queued, m_ops) != recorded) {
            // The file left the queue (a crash after its move), or another file has its name now.
            (void)c.execute(forget);
            continue;
        }
        // Its rows are in: it only has to move.
        loaded.insert(name);
        m_log.WriteInLog("importazione xml del file " + queued.stem().string() +
                             " già eseguita: il file viene spostato in " + old.string(),
                         false, false);
        std::string why;
        const stdfs::path target = old / name;
        bool moved = false;
        if (!stdfs::is_directory(old, ec) && !stdfs::create_directory(old, ec) && !stdfs::is_directory(old)) {
            why = "impossibile creare la cartella " + old.string() + ": " + text::systemReason(ec);
        } else if (const auto there = fs::identityOf(target, m_ops); there && *there == recorded) {
            // The move had placed it already; only the original was left.
            moved = m_ops.unlink(queued.c_str()) == 0;
            if (!moved)
                why = "il file importato non può essere rimosso: " + text::systemReason(errno);
        } else if (stdfs::exists(stdfs::symlink_status(target, ec))) {
            why = "esiste già un file con lo stesso nome in " + old.string();
        } else {
            stdfs::path copy;
            moved =
                (fs::sameFileSystem(queued, old, m_ops) || fs::copyFlushed(queued, old, target, copy, why, m_ops)) &&
                completeMove(queued, old, copy, why);
        }
        if (moved) {
            (void)c.execute(forget);
            continue;
        }
        ok = false;
        moveFailed(queued, old, why);
    }
    return true;
}

} // namespace zs::engine
