#pragma once
// The settings whose text picks one of a few behaviours, as types: the server type, the
// notification choices and a cube's refresh choice. The settings store parses them once as it
// reads the file and writes them back as the same text; everything else compares the enums.

#include <string>
#include <string_view>

namespace zs::program {

/// The setting ServerType, read in any case. `Unknown` stands for any other text and for a file
/// without the setting: the program then works on the Access database, as for "access", but
/// keeps the server's log-in and has no standard server template.
enum class ServerType { Unknown, Access, Mixed, SqlServer, Oracle };

ServerType parseServerType(std::string_view text);
/// Oracle and SQL Server: the types that keep everything on the server, with no Access file.
bool runsOnServer(ServerType type);

/// The setting notifica (the options optErrors): when a run's report is mailed.
enum class NotifyWhen { Always = 0, AskOnManualRun = 1, Never = 2 };
/// The setting tiponotifica (the options optErrorsType): which runs are reported.
enum class NotifyWhat { ErrorsOnly = 0, Every = 1 };

/// The number the file stores for each choice ("0", "1", "2").
std::string notifyText(NotifyWhen when);
std::string notifyText(NotifyWhat what);

/// A cube's refresh choice, the `cubo` element's attribute aggiornamento.
enum class RefreshChoice { Full = 0, DataOnly = 1, Incremental = 2 };

/// "completo", "dati" or "incrementale".
std::string refreshChoiceText(RefreshChoice choice);
/// The choice a stored text names; any text but "completo" and "dati" is the incremental one.
RefreshChoice refreshChoiceFromText(std::string_view text);

} // namespace zs::program
