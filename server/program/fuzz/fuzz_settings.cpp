// Reads arbitrary bytes as the settings file: the start-up reader over every value, the
// setting reads by path the program makes, and one write into the document (never to disk).

#include "program/SettingsStore.h"
#include "program/ShellServices.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace {

class SilentMessages : public zs::program::MessageService {
  public:
    void show(const std::string&, zs::program::MessageIcon, const std::string&) override {}
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    auto doc = zs::xml::Document::loadString(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!doc)
        return 0;
    zs::program::ProgramSettings values;
    zs::program::SecondaryOptionsFields fields;
    SilentMessages messages;
    zs::program::SettingsStore store(values, fields, messages, "/nonexistent/zentrik");
    store.setDocument(std::move(doc));
    (void)store.LeggiImpostazioni(store.DocImpostazioni()->root());
    for (const char* path : {"email", "emailTo", "SERVERTYPE", "BUSANDTASK.computer", "CUBO.nome", "TIMEOUT"})
        (void)store.LeggiTesto(path);
    (void)store.ScriviImpostazione("SMTPSERVER", "smtp.example.invalid");
    (void)store.ScriviImpostazione("BUSANDTASK.coDiv", "01");
    return 0;
}
