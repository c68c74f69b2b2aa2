// libFuzzer target: any bytes as the import's annotated mapping schema. Loading either maps the
// schema or refuses it with a reason; a mapping it accepts holds only indexes that exist.

#include "FuzzInputFile.h"
#include "engine/XmlMapping.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const zs::fuzz::InputFile input("schema.xsd");
    if (!input.write(data, size))
        return 0;
    zs::engine::XmlMapping mapping;
    std::string reason;
    if (!mapping.load(input.path(), reason)) {
        if (reason.empty())
            std::abort(); // a refusal always says why
        return 0;
    }
    const std::size_t n = mapping.nodes.size();
    for (const std::size_t r : mapping.roots)
        if (r >= n)
            std::abort();
    for (const auto& node : mapping.nodes) {
        for (const std::size_t c : node.children)
            if (c >= n)
                std::abort();
        for (const auto& f : node.fields)
            if (f.slot >= node.columns.size())
                std::abort();
    }
    return 0;
}
