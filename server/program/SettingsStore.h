#pragma once
// The settings store over zentrikServer.xml: the XML loader every reader of the program uses,
// the start-up reader that fills the program-wide values and the option windows' fields, one
// setting read or written by path ("Element" or "Element.attribute"), and the save-all.

#include "program/ProgramSettings.h"
#include "program/Settings.h"

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "xml/XmlDocument.h"

namespace zs::fs {
class FileOps;
}

namespace zs::program {

class MessageService;

/// A setting read by path: a boolean ("vero"/"falso") or the text.
using SettingValue = std::variant<bool, std::string>;

/// Loads an XML file. Nothing for an empty name or a missing file (silently); a file that does
/// not parse, is not a regular file (FIFO, folder, device) or holds more than `maxBytes` shows
/// "Errore nel file …" through `messages` and gives nothing; `refused` tells the last two apart.
/// `failure`, when given, receives the load's error.
std::optional<xml::Document> CaricaXML(const std::filesystem::path& fileName, MessageService& messages,
                                       std::size_t maxBytes = 64u << 20, bool* refused = nullptr,
                                       xml::ParseError* failure = nullptr);

class SettingsStore {
  public:
    /// How the windows take part, wired by their owner (the store knows no window): `show` takes
    /// each value read from the file (`startup`: the start-with-the-desktop entry follows it),
    /// `collect` gives a save the cube window's settings for the document's `root` (`live`: the
    /// save-all's own collection, which may list the cubes anew); nothing without a cube window.
    struct WindowExchange {
        std::function<void(const Settings& value, bool startup)> show;
        std::function<std::optional<CubeSettings>(const xml::Element& root, bool live)> collect;
    };

    SettingsStore(ProgramSettings& values, SecondaryOptionsFields& fields, MessageService& messages,
                  std::filesystem::path programFolder);

    void exchangeWith(WindowExchange exchange) { m_exchange = std::move(exchange); }
    /// The program-wide values the store reads into and saves from.
    const ProgramSettings& values() const { return m_values; }
    /// The file system calls saves go through (tests inject failures).
    void setFileOps(fs::FileOps& ops) { m_ops = &ops; }
    /// Where a save says what it did on its own account (saved without the save lock): a box
    /// through the message service when none is set; zs-extract writes a day-log line.
    void setNotices(std::function<void(const std::string&)> say) { m_notices = std::move(say); }

    /// Sets FileImpostazioni to the program folder's zentrikServer.xml and loads it into
    /// DocImpostazioni. False when there is no (readable) settings file.
    bool load();
    /// After a failed load: something stands at the settings file's name that is not a regular
    /// file, or is too large; the wizard must not replace it.
    bool refused() const { return m_refused; }
    /// After a refused load: why, in the words of the load's message ("… è una pipe, non un file").
    const std::string& refusal() const { return m_refusal; }
    bool hasDocument() const { return m_doc.has_value(); }
    xml::Document* DocImpostazioni() { return m_doc ? &*m_doc : nullptr; }
    /// A document of the caller's (the wizard's new one): everything in it is this store's own
    /// change, to be written onto whatever the file holds by then.
    void setDocument(std::optional<xml::Document> doc);

    /// Walks the root's children and fills the values and fields. A value that does not convert
    /// keeps its default; the returned list says which (empty when all went well).
    std::vector<std::string> LeggiImpostazioni(const xml::Element& root);

    /// The value at `path`; "" when the document or the element is missing. A missing
    /// attribute reads as "" and sets `error`.
    SettingValue LeggiImpostazione(const std::string& path, std::string* error = nullptr) const;
    /// LeggiImpostazione as text (a boolean gives "vero" or "falso").
    std::string LeggiTesto(const std::string& path) const;
    /// Writes one setting into the document (not to disk). False without a document.
    bool ScriviImpostazione(const std::string& path, const std::string& value);
    /// Collects the windows' fields into the document and writes the file atomically (mode 0600:
    /// it holds passwords). False, with `error`, when there is no document or the write failed;
    /// the old file is then untouched.
    ///
    /// The folder has other writers (zs-extract, an editor, another window's save): under the
    /// settings' save lock the file is read again, and what this store changed since it last
    /// read or wrote the file is written onto the file as it stands. A setting the store did not
    /// change keeps the file's value, and the windows take it; one that both changed takes the
    /// store's.
    bool SalvaImpostazioni(std::string* error = nullptr);
    /// Takes what other writers saved since the store last read or wrote the file into the
    /// document and the windows' fields, for every setting not changed here since. Nothing to do
    /// (false) when the file is missing, refused, does not parse or has not changed.
    bool Ricarica();
    /// Grows each time the fields take values another writer saved: a window that shows them
    /// shows them again when it has shown an older generation.
    unsigned generation() const { return m_generation; }

    const std::filesystem::path& programFolder() const { return m_programFolder; }

    /// One setting as compared between writers: an element's attributes and its content.
    struct Snapshot {
        std::vector<std::pair<std::string, std::string>> attributes;
        std::string content;
        bool operator==(const Snapshot&) const = default;
    };
    /// The root's elements by key: the exact name, a `cubo` with its cube's name, a repeated
    /// element with its occurrence.
    using Snapshots = std::map<std::string, Snapshot>;

  private:
    void say(const std::string& text);
    /// The values and fields as they stand, as a settings value.
    Settings current() const;
    /// Takes a value read from the document: the values and fields, and the windows' settings it
    /// holds (`startup`: the start-with-the-desktop entry follows the field).
    void take(const Settings& s, bool startup);
    /// Steps of the save-all that put the windows' fields into `doc`; `live` includes the cube
    /// window's OLAP fields, whose change re-lists the cubes.
    void collect(xml::Document& doc, bool live);
    /// Both baselines from the document as it is now, read from or written to the file.
    void rebase();
    /// Folds into `mine` what `disk` changed since m_fileBase where `mine` kept m_ownBase's value;
    /// the element names taken or removed that way. The baselines follow: the file's becomes
    /// `disk`, this store's takes what was folded.
    std::vector<std::string> fold(xml::Document& mine, const xml::Element& disk);
    /// After a fold: the fields of every element name in `keys` read again from the document.
    void refreshFields(const std::vector<std::string>& keys);

    ProgramSettings& m_values;
    SecondaryOptionsFields& m_fields;
    MessageService& m_messages;
    std::filesystem::path m_programFolder;
    WindowExchange m_exchange;
    fs::FileOps* m_ops = nullptr;
    std::optional<xml::Document> m_doc;
    bool m_refused = false;
    std::string m_refusal;
    unsigned m_generation = 0;
    bool m_saving = false;        ///< a save-all is under way (it lets window events run)
    bool m_savedUnlocked = false; ///< the last save went without the save lock (and said so)
    std::function<void(const std::string&)> m_notices;
    Snapshots m_fileBase; ///< the file as this store last read or wrote it
    Snapshots m_ownBase;  ///< what this store's save-all gave for it (the fields collected)
};

} // namespace zs::program
