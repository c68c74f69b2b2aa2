#include "program/SettingsTypes.h"

#include "text/Ascii.h"

namespace zs::program {

ServerType parseServerType(std::string_view text)
{
    const std::string t = text::lowerAscii(text);
    if (t == "access")
        return ServerType::Access;
    if (t == "mixed")
        return ServerType::Mixed;
    if (t == "sqlserver")
        return ServerType::SqlServer;
    if (t == "oracle")
        return ServerType::Oracle;
    return ServerType::Unknown;
}

bool runsOnServer(ServerType type)
{
    return type == ServerType::SqlServer || type == ServerType::Oracle;
}

std::string notifyText(NotifyWhen when)
{
    switch (when) {
    case NotifyWhen::Always:
        return "0";
    case NotifyWhen::AskOnManualRun:
        return "1";
    case NotifyWhen::Never:
        break;
    }
    return "2";
}

std::string notifyText(NotifyWhat what)
{
    return what == NotifyWhat::Every ? "1" : "0";
}

std::string refreshChoiceText(RefreshChoice choice)
{
    switch (choice) {
    case RefreshChoice::Full:
        return "completo";
    case RefreshChoice::DataOnly:
        return "dati";
    case RefreshChoice::Incremental:
        break;
    }
    return "incrementale";
}

RefreshChoice refreshChoiceFromText(std::string_view text)
{
    if (text == "dati")
        return RefreshChoice::DataOnly;
    if (text == "completo")
        return RefreshChoice::Full;
    return RefreshChoice::Incremental;
}

} // namespace zs::program
