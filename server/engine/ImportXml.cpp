#include "engine/ImportXml.h"

#include "db/Connection.h"
#include "db/Transaction.h"
#include "engine/EngineStrings.h"
#include "engine/ImportError.h"
#include "engine/ImportRecord.h"
#include "engine/StepFields.h"
#include "engine/XmlMapping.h"
#include "engine/XmlRowLoader.h"
#include "fs/AtomicFile.h"
#include "fs/FileMoves.h"
#include "fs/Paths.h"
#include "program/ProgramLog.h"
#include "program/ShellServices.h"
#include "text/SystemReason.h"
#include "time/Clock.h"
#include "xml/XmlDocument.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <sys/stat.h>

namespace zs::engine {
namespace {

namespace stdfs = std::filesystem;

const char* const kWhere = "[.modImportXml.ImportXmlBulkLoad]";
const char* const kLinkRefused = "il file è un collegamento simbolico: non viene importato (copiare o spostare nella "
                                 "cartella il file stesso)";

/// Why what stands at a data file's name is not imported, or nothing when it is a regular file.
/// Nothing is opened to tell: a FIFO is not waited on.
std::string notADataFile(mode_t mode)
{
    if (S_ISREG(mode))
        return {};
    if (S_ISLNK(mode))
        return kLinkRefused;
    const char* what = S_ISDIR(mode) ? "una cartella" : S_ISFIFO(mode) ? "una FIFO" : "un file speciale";
    return std::string("non è un file ma ") + what + ": non viene importato (togliere dalla cartella di importazione)";
}

/// The queued data files of the import folder, in name order, without the ones already in.
/// Whatever stands at a name like a data file's is listed, as it stands (a link, not what it
/// points to; a folder, a FIFO), so that each one not a file is refused by name rather than
/// skipped without a word.
std::vector<stdfs::path> queuedFiles(const stdfs::path& folder, const std::set<std::string>& alreadyIn)
{
    std::error_code ec;
    std::vector<stdfs::path> files;
    for (const auto& entry : stdfs::directory_iterator(folder, ec))
        if (lower(entry.path().extension().string()) == ".xml" && !alreadyIn.count(entry.path().filename().string()))
            files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

} // namespace

ImportXml::ImportXml(program::ProgramLog& log, program::MessageService& messages, const time::Clock& clock,
                     stdfs::path programFolder, std::function<db::Connection*()> connection, fs::FileOps& ops)
    : m_log(log)
    , m_messages(messages)
    , m_clock(clock)
    , m_programFolder(std::move(programFolder))
    , m_connection(std::move(connection))
    , m_ops(ops)
    , m_moves(log, ops, [this](ImportCommitPoint point) { reached(point); })
{}

stdfs::path ImportXml::errorLogFile() const
{
    const time::DateTime now = m_clock.now();
    char name[16];
    std::snprintf(name, sizeof name, "%02d%02d%02dx.log", now.year % 100, now.month, now.day);
    return m_programFolder / "log" / name;
}

bool ImportXml::ImportXmlStep(const xml::Element& step)
{
    const StepFields f(step);
    return ImportXmlBulkLoad(f["path"], f["schema"], f["oldpath"]);
}

void ImportXml::handledError(const std::string& description)
{
    const std::string text = "Errore nell'importazione dei file xml\r\n" + description + "\r\n" + kWhere;
    m_log.WriteInLog(text, false, false);
    m_log.OutputResponse("Errore nell'importazione dei file xml-" + description, true, 1);
    m_messages.show(text, program::MessageIcon::Critical, "Errore.");
}

bool ImportXml::ImportXmlBulkLoad(const std::string& path, const std::string& schema, std::string oldpath)
{
    db::Connection* c = m_connection ? m_connection() : nullptr;
    if (!c || !c->isOpen()) {
        handledError("Connessione al database non disponibile");
        return false;
    }
    const stdfs::path folder = zs::fs::resolveUserPath(path, m_programFolder);
    std::error_code ec;
    if (path.empty() || !stdfs::is_directory(folder, ec)) {
        handledError("Cartella di importazione inesistente: " + path);
        return false;
    }
    const stdfs::path old = oldpath.empty() ? folder / "old" : zs::fs::resolveUserPath(oldpath, m_programFolder);
    XmlMapping mapping;
    std::string reason;
    if (!mapping.load(zs::fs::resolveUserPath(schema, m_programFolder), reason)) {
        handledError(reason);
        return false;
    }

    // Which files went in is recorded in the target itself, in the transaction of their rows:
    // what a crash left half-way (rows committed, file not yet moved) is finished first.
    if (!ensureLoadedTable(*c, reason)) {
        handledError(reason);
        return false;
    }
    std::set<std::string> alreadyIn;
    bool ok = true;
    if (!m_moves.reconcile(*c, folder, old, alreadyIn, ok, reason)) {
        handledError(reason);
        return false;
    }
    for (const stdfs::path& file : queuedFiles(folder, alreadyIn))
        if (!importFile(*c, mapping, folder, old, file))
            ok = false;
    return ok;
}

bool ImportXml::importFile(db::Connection& c, const XmlMapping& mapping, const stdfs::path& folder,
                           const stdfs::path& old, const stdfs::path& file)
{
    m_log.WriteInLog("importazione xml del file " + file.stem().string(), false, false);
    // On a target without transactions of its own each statement stands alone.
    db::Transaction tx(c);
    db::Transaction* const transaction = db::hasTransactions(c.dialect()) ? &tx : nullptr;
    const std::string name = file.filename().string();
    std::string reason;
    // A link is refused before anything is read: its rows and its identity would be those of
    // two different files, and moving the link would leave its target behind to be linked
    // again. It stays in the folder, refused the same way by every run, until it is replaced
    // by the file itself. So do a folder or a FIFO at a data file's name, and a file that
    // cannot be looked at.
    struct stat st {};
    const std::string notAFile = m_ops.lstat(file.c_str(), &st) == 0
                                     ? notADataFile(st.st_mode)
                                     : "il file non può essere esaminato: " + text::systemReason(errno);
    if (!notAFile.empty()) {
        rejectFile(c, file, notAFile);
        return false;
    }
    if (!loadAndRecord(c, mapping, folder, file, transaction, reason)) {
        tx.rollback();
        rejectFile(c, file, reason);
        return false;
    }
    // The rows, the file's record and the file's move stand or fall together. What can fail
    // is tried before the commit (the old-files folder, a free name there, the copy to
    // another file system), so such a file stays with none of its rows. After the commit a
    // crash leaves the file queued with its record, and the next start moves it without
    // loading it again. A file is never overwritten in the old-files folder.
    stdfs::path copy;
    std::string why;
    if (!m_moves.readyToMove(file, old, copy, why)) {
        tx.rollback();
        m_moves.moveFailed(file, old, why);
        return false;
    }
    if (!tx.commit()) {
        // The rows did not go in (a full disk, say): the import failed, not the move.
        why = "salvataggio delle righe non riuscito: " + errorText(c);
        tx.rollback();
        if (!copy.empty())
            m_ops.unlink(copy.c_str());
        rejectFile(c, file, why);
        return false;
    }
    reached(CommitPoint::Committed);
    if (!m_moves.completeMove(file, old, copy, why)) {
        // The rows are in and recorded: the next start finishes the move.
        m_moves.moveFailed(file, old, why);
        return false;
    }
    reached(CommitPoint::Moved);
    // The record has done its work; one left by a crash here is dropped by the next start.
    (void)c.execute(forgetSql(folder.string(), name));
    reached(CommitPoint::Done);
    return true;
}

bool ImportXml::loadAndRecord(db::Connection& c, const XmlMapping& mapping, const stdfs::path& folder,
                              const stdfs::path& file, db::Transaction* transaction, std::string& reason)
{
    const std::optional<fs::FileIdentity> identity = fs::identityOf(file, m_ops);
    if (!(transaction == nullptr || transaction->begin() || ((reason = errorText(c)), false)) ||
        !loadXmlRows(c, mapping, file, reason))
        return false;
    reached(CommitPoint::RowsWritten);
    if (!identity || !c.execute(recordSql(folder.string(), file.filename().string(), *identity))) {
        reason = identity ? "registrazione del file importato: " + errorText(c) : "file non più leggibile";
        return false;
    }
    reached(CommitPoint::Recorded);
    return true;
}

void ImportXml::rejectFile(db::Connection& c, const stdfs::path& file, const std::string& reason)
{
    (void)c.settleInsert(); // rows still on their way: their outcome no longer matters
    m_log.WriteInLog("Errore nell'importazione del file " + file.string() + "\r\n" + reason + "\r\n" + kWhere, true,
                     false);
    const auto id = m_log.OutputResponse("Errore nell'importazione del file " + file.string() + "-" + reason, true, 1);
    m_log.setImage(id, static_cast<program::LogImage>(2));
    // The import's error log is opened as the day log is: a FIFO, folder or link at its name is
    // refused at once, and said once in the step's lines.
    std::string error;
    if (!fs::appendToFile(errorLogFile(), file.string() + ": " + reason + "\r\n", &error) && !m_errorLogReported) {
        m_errorLogReported = true;
        m_log.OutputResponse("Log degli errori di importazione non aggiornato: " + error, true, 1);
    }
}

void ImportXml::reached(CommitPoint point)
{
    if (m_commitPoint)
        m_commitPoint(point);
}

} // namespace zs::engine
