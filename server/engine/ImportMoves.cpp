#include "engine/ImportMoves.h"

#include "db/Connection.h"
#include "engine/ImportRecord.h"
#include "engine/ImportTransaction.h"
#include "fs/AtomicFile.h"
#include "fs/Fd.h"
#include "fs/FileOps.h"
#include "program/ProgramLog.h"
#include "text/SystemReason.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace zs::engine {
namespace {

namespace stdfs = std::filesystem;

/// Copies `from` into a new temporary file in `folder` (the old-files folder on another file
/// system, where a rename cannot go), with its mode and time, flushed to the disk; sets `tmp`.
/// Nothing is left behind on failure.
bool copyFlushed(const stdfs::path& from, const stdfs::path& folder, const stdfs::path& to, stdfs::path& tmp,
                 std::string& reason)
{
    fs::Fd in, out;
    std::string tmpName;
    const auto failed = [&](const std::string& what) {
        reason = what + ": " + text::systemReason(errno);
        if (out.valid()) {
            out.reset();
            ::unlink(tmpName.c_str());
        }
        return false;
    };
    in.reset(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
    if (!in.valid())
        return failed("lettura di " + from.string());
    struct stat st {};
    if (::fstat(in.get(), &st) != 0)
        return failed("lettura di " + from.string());
    out.reset(fs::createTemporary(folder, to.filename().string(), st.st_mode & 0777, tmpName, fs::systemFileOps()));
    if (!out.valid()) {
        reason = "creazione di " + to.string() + ": " + text::systemReason(errno);
        return false;
    }
    std::vector<char> buffer(1 << 20);
    for (;;) {
        const ssize_t got = ::read(in.get(), buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return failed("lettura di " + from.string());
        if (got == 0)
            break;
        for (ssize_t done = 0; done < got;) {
            const ssize_t put = ::write(out.get(), buffer.data() + done, static_cast<std::size_t>(got - done));
            if (put < 0 && errno == EINTR)
                continue;
            if (put < 0)
                return failed("scrittura di " + to.string());
            done += put;
        }
    }
    // The copy keeps the file's time: it is how a later start knows it for the same file.
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    (void)::futimens(out.get(), times);
    if (::fsync(out.get()) != 0)
        return failed("scrittura di " + to.string());
    if (::close(out.release()) != 0) {
        reason = "scrittura di " + to.string() + ": " + text::systemReason(errno);
        ::unlink(tmpName.c_str());
        return false;
    }
    tmp = tmpName;
    return true;
}

/// Renames `from` to `to` unless something stands at `to` already.
bool renameNoReplace(const stdfs::path& from, const stdfs::path& to)
{
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    // A file system without the flag: the caller checked the name is free.
    struct stat st {};
    if (::lstat(to.c_str(), &st) == 0) {
        errno = EEXIST;
        return false;
    }
    return ::rename(from.c_str(), to.c_str()) == 0;
}

bool sameFileSystem(const stdfs::path& file, const stdfs::path& folder)
{
    struct stat a {
    }, b{};
    return ::stat(file.c_str(), &a) == 0 && ::stat(folder.c_str(), &b) == 0 && a.st_dev == b.st_dev;
}

} // namespace

ImportMoves::ImportMoves(program::ProgramLog& log, std::function<void(ImportCommitPoint)> reached)
    : m_log(log)
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
    else if (!sameFileSystem(file, old) && copyFlushed(file, old, target, copy, why))
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
        if (!renameNoReplace(file, target)) {
            why = errno == EEXIST ? "esiste già un file con lo stesso nome in " + old.string()
                                  : text::systemReason(errno);
            return false;
        }
    } else {
        if (!renameNoReplace(copy, target)) {
            why = errno == EEXIST ? "esiste già un file con lo stesso nome in " + old.string()
                                  : text::systemReason(errno);
            ::unlink(copy.c_str());
            return false;
        }
        fs::syncFolder(old, fs::systemFileOps()); // the copy's name is on the disk before the original goes
        m_reached(ImportCommitPoint::Placed);
        if (::unlink(file.c_str()) != 0) {
            why = "il file importato non può essere rimosso: " + text::systemReason(errno);
            return false;
        }
    }
    fs::syncFolder(old, fs::systemFileOps());
    fs::syncFolder(file.parent_path(), fs::systemFileOps());
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
        const FileIdentity& recorded = record.identity;
        const stdfs::path queued = folder / name;
        const std::string forget = forgetSql(folder.string(), name);
        if (name.empty() || name.find('/') != std::string::npos || identityOf(queued) != recorded) {
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
        } else if (const auto there = identityOf(target); there && *there == recorded) {
            // The move had placed it already; only the original was left.
            moved = ::unlink(queued.c_str()) == 0;
            if (!moved)
                why = "il file importato non può essere rimosso: " + text::systemReason(errno);
        } else if (stdfs::exists(stdfs::symlink_status(target, ec))) {
            why = "esiste già un file con lo stesso nome in " + old.string();
        } else {
            stdfs::path copy;
            moved = (sameFileSystem(queued, old) || copyFlushed(queued, old, target, copy, why)) &&
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
