// libFuzzer target: any bytes as an OLAP catalog file ("olap-<server>.xml", written by hand).
// Reading it either gives a catalog or an error with a text; never a crash.

#include "FuzzInputFile.h"
#include "olap/OlapCatalog.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const zs::fuzz::InputFile input("olap-fuzz.xml");
    if (!input.write(data, size))
        return 0;
    zs::olap::OlapError error;
    const auto catalog = zs::olap::loadCatalog(input.path(), &error);
    if (!catalog) {
        if (error.description.empty())
            std::abort(); // a catalog that cannot be read says why
        return 0;
    }
    // The names it declares become table names of the target database.
    for (const auto& db : catalog->databases) {
        for (const auto& d : db.dimensions)
            if (zs::olap::olapTableName("olap_dim_", db.name, d.name).size() > 63)
                std::abort();
        for (const auto& c : db.cubes)
            if (zs::olap::olapTableName("olap_cube_", db.name, c.name).size() > 63)
                std::abort();
    }
    return 0;
}
