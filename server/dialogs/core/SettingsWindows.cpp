#include "dialogs/core/SettingsWindows.h"

#include "program/SettingsStore.h"
#include "program/ShellServices.h"
#include "xml/XmlDocument.h"

namespace zs::dialogs {

void SettingsWindows::apply(const program::Settings& value, bool startup) const
{
    if (cubes) {
        if (value.cubes.server)
            cubes->set_MacchinaOLAP(*value.cubes.server);
        if (value.cubes.database) {
            cubes->set_DatabaseCubi(*value.cubes.database);
            cubes->Inizializza();
        }
        for (const program::InfoCubo& cube : value.cubes.cubes)
            cubes->modifyCube(cube.nome, cube.aggiornamento, cube.data);
    }
    if (options && value.bus) {
        const program::BusAndTaskLogin& b = *value.bus;
        options->set_Computer(b.computer);
        options->set_SystemUserID(b.systemUserID);
        options->set_SystemPassword(b.systemPassword);
        options->set_OperatorUserID(b.operatorUserID);
        options->set_OperatorPassword(b.operatorPassword);
        options->set_CoDiv(b.coDiv);
    }
    if (startup && main)
        main->ChangeStartup(value.options.chkStartup == 1);
}

std::optional<program::CubeSettings> SettingsWindows::collect(const xml::Element& root, bool live) const
{
    if (live && cubes &&
        (root.child("ServerOLAP").text() != cubes->txtDsoServer() ||
         root.child("DatabaseOLAP").text() != cubes->txtDsoDb())) {
        cubes->Inizializza();
        cubes->AggiornaTabellaCubi();
    }
    // The save-all lets pending window events run (the grid listed anew among them).
    if (live && yield)
        yield->yield();
    if (!cubes)
        return std::nullopt;
    return program::CubeSettings{cubes->txtDsoServer(), cubes->txtDsoDb(), cubes->cubes()};
}

void SettingsWindows::connect(program::SettingsStore& store) const
{
    const SettingsWindows windows = *this;
    store.exchangeWith({[windows](const program::Settings& value, bool startup) { windows.apply(value, startup); },
                        [windows](const xml::Element& root, bool live) { return windows.collect(root, live); }});
}

} // namespace zs::dialogs
