#include "engine/CalendarTable.h"

#include "engine/EngineContext.h"
#include "engine/EngineStrings.h"
#include "program/ProgramSettings.h"

#include <charconv>
#include <cstdio>
#include <optional>
#include <vector>

namespace zs::engine {

namespace {

constexpr std::array<std::string_view, 7> kGiorni{"Lunedi",  "Martedi", "Mercoledi", "Giovedi",
                                                  "Venerdi", "Sabato",  "Domenica"};
constexpr std::array<std::string_view, 12> kMesi{"Gennaio", "Febbraio", "Marzo",     "Aprile",  "Maggio",   "Giugno",
                                                 "Luglio",  "Agosto",   "Settembre", "Ottobre", "Novembre", "Dicembre"};

// Monday = 1 … Sunday = 7.
int isoWeekday(const time::DateTime& d)
{
    const int w = d.weekday(); // 1 Sunday … 7 Saturday
    return w == 1 ? 7 : w - 1;
}

std::string twoDigits(int n)
{
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02d", n);
    return buf;
}

// A year as the list gives it: a whole number, blanks around it allowed. Years outside the
// calendar the dates can hold are refused rather than written as nonsense. Nothing on success,
// else the run-time error the item raises: a text that is no number does not convert, a number
// past a 32-bit integer overflows, a year the dates cannot hold is no date.
std::optional<RunTimeError> parseYear(const std::string& item, int& year)
{
    const std::string t = trim(item);
    const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), year);
    if (ec == std::errc::result_out_of_range && end == t.data() + t.size())
        return RunTimeError{6, "Overflow", "ZentrikServer"};
    if (t.empty() || ec != std::errc() || end != t.data() + t.size() || year < 100 || year > 9999)
        return RunTimeError{13, "Type mismatch", "ZentrikServer"};
    return std::nullopt;
}

} // namespace

std::string_view NomeGiorno(int weekday)
{
    return weekday >= 1 && weekday <= 7 ? kGiorni[static_cast<std::size_t>(weekday - 1)] : std::string_view();
}

std::string_view NomeMese(int month)
{
    return month >= 1 && month <= 12 ? kMesi[static_cast<std::size_t>(month - 1)] : std::string_view();
}

int isoWeek(const time::DateTime& date)
{
    // The week belongs to the year of its Thursday.
    const time::DateTime d = date.date();
    const time::DateTime thursday = d.addDays(4 - isoWeekday(d));
    const time::DateTime jan1{thursday.year, 1, 1, 0, 0, 0};
    return static_cast<int>((thursday.daysSinceEpoch() - jan1.daysSinceEpoch()) / 7 + 1);
}

long dataVevira(const time::DateTime& date)
{
    static const std::int64_t base = time::DateTime{1800, 1, 1, 0, 0, 0}.daysSinceEpoch();
    return static_cast<long>(date.daysSinceEpoch() - base + 1);
}

void calendarRow(const time::DateTime& day, std::array<SqlValue, 9>& row)
{
    char vevira[16];
    std::snprintf(vevira, sizeof vevira, "%08ld", dataVevira(day));
    const std::string monthText = twoDigits(day.month);
    row[0] = day.date();
    row[1] = std::string(NomeGiorno(isoWeekday(day)));
    row[2] = std::string(NomeMese(day.month));
    row[3] = std::int64_t{day.year};
    row[4] = twoDigits(day.day);
    row[5] = std::to_string(isoWeek(day));
    row[6] = monthText;
    // The quarter comes from the two-digit month text just stored.
    row[7] = std::int64_t{(std::stoi(monthText) - 1) / 3 + 1};
    row[8] = std::string(vevira);
}

bool CalendarTable::RiempiAnnoTime(int year)
{
    const std::string source = m_ctx.settings.TipoServer == program::ServerType::Oracle ? "Time" : "[Time]";
    const std::vector<std::string> columns(kTimeColumns.begin(), kTimeColumns.end());
    std::unique_ptr<RowSink> sink = m_ctx.db.openRowSink(source, columns);
    if (!sink)
        return false;
    std::array<SqlValue, 9> row;
    for (time::DateTime day{year, 1, 1, 0, 0, 0}; day.year == year; day = day.addDays(1)) {
        calendarRow(day, row);
        if (!sink->addRow(row))
            return false;
    }
    return true;
}

bool CalendarTable::CreaTabellaTime(const std::string& years)
{
    static constexpr const char* kFailure = "Errore in fase di esecuzione query sulla tabella TIME";
    for (const std::string& item : split(years, ',')) {
        int year = 0;
        if (const auto bad = parseYear(item, year)) {
            m_ctx.db.DescriviErrore(kFailure, *bad);
            return false;
        }
        if (!RiempiAnnoTime(year)) {
            m_ctx.db.DescriviErrore(kFailure);
            return false;
        }
    }
    return true;
}

} // namespace zs::engine
