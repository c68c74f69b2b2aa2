// libFuzzer target: any bytes as an INI file (the per-user store, kor8.ini), parsed from text
// and read from a file, then every section and entry looked up again by name.

#include "FuzzInputFile.h"
#include "registry/IniFile.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using zs::registry::IniFile;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const IniFile parsed = IniFile::parse(text);
    for (const auto& section : parsed.sections()) {
        if (!parsed.hasSection(section.name) || !parsed.section(section.name))
            std::abort(); // a section the parser kept is found by its own name
        for (const auto& [name, value] : section.values)
            if (!parsed.value(section.name, name))
                std::abort();
    }
    (void)parsed.value("", "");

    static const zs::fuzz::InputFile input("profile.ini");
    if (input.write(data, size)) {
        const IniFile loaded = IniFile::load(input.path());
        for (const auto& section : loaded.sections())
            for (const auto& entry : section.values)
                (void)loaded.value(section.name, entry.first);
    }
    return 0;
}
