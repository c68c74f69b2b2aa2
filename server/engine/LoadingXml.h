#pragma once
// One step of the loading XML as the run reads it: the table or special step it names, its
// label, emptying and counter flags, its jobs and its incremental-load settings, with the
// watermark turned into a safe SQL literal.

#include "engine/EngineBackend.h"
#include "program/SettingsTypes.h"
#include "xml/XmlDocument.h"

#include <optional>
#include <string>
#include <vector>

namespace zs::engine {

struct Incremental {
    bool attivo = false;
    std::string svuota; ///< column compared in the incremental emptying
    std::string riempi; ///< "table.column" whose maximum becomes the new watermark
    bool autoupdate = false;
    bool numerico = false; ///< datatype "numerico" (exact)
    std::string text;      ///< the watermark as the file holds it
};

struct StepDefinition {
    xml::Element element;
    std::string tableName; ///< upper-cased element name, TIME and ZONE bracketed except on Oracle
    std::string operazione;
    bool esegui = false;
    bool svuota = false;
    bool azzeraContatore = false;
    std::string contatore;
    std::vector<std::string> queries;
    Incremental incrementale;
};

/// Reads a step element. Children are matched upper-cased; the later of two wins (each QUERY
/// adds a job). The counter is reset only when SVUOTA said yes before AZZERACONTATORE.
StepDefinition readStep(const xml::Element& element, program::ServerType tipoServer);

/// The watermark as it goes into SQL: a number in plain decimal form for "numerico", else the
/// text between single quotes with inner quotes doubled. Nothing when a "numerico" watermark is
/// not a number.
std::optional<std::string> watermarkLiteral(const Incremental& inc);

/// The text written back as the new watermark for a maximum read from the database; nothing
/// for a null or empty maximum (the old watermark then stays). Dates are written as
/// "yyyy-mm-dd hh:mm:ss", which every dialect compares correctly as a literal.
std::optional<std::string> watermarkText(const SqlValue& maximum, bool numerico);

/// A number for SQL: integers exactly, fractions in the shortest round-trip form, '.' as point.
std::string sqlNumber(double value);

} // namespace zs::engine
