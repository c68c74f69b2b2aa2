// Feeds arbitrary datagrams to the MX answer decoder, with the count taken from the header.
#include "mail/modMXQuery.h"

#include <cstddef>
#include <cstdint>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const unsigned count = size >= 8 ? static_cast<unsigned>(data[6] << 8 | data[7]) : 1;
    std::vector<zs::mail::MXRecord> records;
    (void)zs::mail::modMXQuery::ParseMXAnswers(std::span<const std::uint8_t>(data, size), count, records);
    return 0;
}
