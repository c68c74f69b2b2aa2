#pragma once
// The calendar table TIME: one row per day of each listed year, with the date's parts in the
// forms the reports group by (Italian weekday and month names, two-digit day and month, ISO
// week, quarter) and the ERP's day number.

#include "engine/EngineBackend.h"

#include <array>
#include <string>
#include <string_view>

namespace zs::engine {

struct EngineContext;

/// 1 Monday … 7 Sunday: "Lunedi" … "Domenica" (no accents, as the reports group by them).
std::string_view NomeGiorno(int weekday);
/// 1 … 12: "Gennaio" … "Dicembre".
std::string_view NomeMese(int month);

/// The nine columns of one calendar row, in the order they are written.
inline constexpr std::array<std::string_view, 9> kTimeColumns{
    "Data", "giorno", "mese", "anno", "GiornodelMese", "SettimanadellAnno", "mesedellanno", "Trimestre", "DataVevira"};

/// The ISO 8601 week number of a date.
int isoWeek(const time::DateTime& date);
/// The ERP's day number: days from 1 January 1800, counting that day as 1.
long dataVevira(const time::DateTime& date);
/// Fills `row` (nine values) for one day.
void calendarRow(const time::DateTime& day, std::array<SqlValue, 9>& row);

class CalendarTable {
  public:
    explicit CalendarTable(const EngineContext& context)
        : m_ctx(context)
    {}

    /// Writes every day of each year of "2005,2006" (blanks around items allowed). Stops at the
    /// first item that is not a year or at a database error, logs it and returns false; the days
    /// written before stay.
    bool CreaTabellaTime(const std::string& years);
    /// Writes the 365 or 366 rows of one year; false on a database error.
    bool RiempiAnnoTime(int year);

  private:
    const EngineContext& m_ctx;
};

} // namespace zs::engine
