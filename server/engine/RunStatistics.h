#pragma once
// The run statistics kept in stat.xml: for every step label how many times it was timed, how
// long it took the last time and on average. The run updates it after each timed step and
// saves it at the end; the options dialog's chart reads it.

#include "xml/XmlDocument.h"

#include <filesystem>
#include <string>

namespace zs::program {
class MessageService;
}

namespace zs::engine {

/// Adds one timing of `label` (compared without regard to case) to the document: `lasttime` the
/// rounded seconds, `times` one more, `avarage` the new mean. A `modulo` missing one of its
/// children gets it back.
void AggiornaStatistiche(xml::Document& doc, const std::string& label, double seconds);

/// The statistics of a run: loaded from (or created for) the program folder's stat.xml.
class RunStatistics {
  public:
    /// Loads `file` when it exists; a file that does not parse is reported through `messages`
    /// and left alone: the run then keeps no statistics rather than overwrite it.
    RunStatistics(std::filesystem::path file, program::MessageService& messages);

    bool usable() const { return m_usable; }
    xml::Document& DocStatistiche() { return m_doc; }
    void AggiornaStatistiche(const std::string& label, double seconds);
    /// Writes the file (atomically). False, with `error`, when it could not, or when the file
    /// that was there could not be read.
    bool save(std::string* error = nullptr);

  private:
    std::filesystem::path m_file;
    xml::Document m_doc;
    bool m_usable = true;
};

} // namespace zs::engine
