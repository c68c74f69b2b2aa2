// libFuzzer target: any bytes as an XML data file, read by the import's streaming reader in small
// pieces and by pugixml whole; a document the reader takes must read the same in both.

#include "FuzzInputFile.h"
#include "XmlDifferential.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const zs::fuzz::InputFile input("data.xml");
    if (!input.write(data, size))
        return 0;
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::string differs = zs::fuzz::disagreement(bytes, input.path(), 64);
    if (!differs.empty()) {
        std::fprintf(stderr, "%s\n", differs.c_str());
        std::abort();
    }
    return 0;
}
