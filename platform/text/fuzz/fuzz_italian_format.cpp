// libFuzzer target: any bytes as a number or a date written in the Italian display format, as
// stored files carry them (stat.xml, cadenzo.xml, the settings). What parses is formatted again.

#include "text/ItalianFormat.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (const auto n = zs::text::parseNumber(text)) {
        (void)zs::text::formatNumber(*n);
        (void)zs::text::formatNumber(*n, 2);
    }
    if (const auto d = zs::text::parseDateTime(text)) {
        (void)zs::text::formatDateTime(*d);
        (void)zs::text::dayName(d->weekday());
        (void)zs::text::monthName(d->month);
    }
    return 0;
}
