// libFuzzer target: any bytes as an XML data file for the streaming reader, read in small
// pieces so every token can fall on a piece's edge. It must end in EndOfDocument or Error.

#include "FuzzInputFile.h"
#include "engine/XmlPullReader.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const zs::fuzz::InputFile input("data.xml");
    if (!input.write(data, size))
        return 0;
    zs::engine::XmlPullReader reader(64);
    if (!reader.open(input.path()))
        return 0;
    for (;;) {
        const auto e = reader.next();
        if (e == zs::engine::XmlPullReader::Event::EndOfDocument || e == zs::engine::XmlPullReader::Event::Error)
            break;
    }
    return 0;
}
