#include "dialogs/core/JobViewerModel.h"

#include "engine/EngineStrings.h"
#include "xml/XmlDocument.h"

namespace zs::dialogs {

bool isFlagSet(const std::string& text)
{
    return engine::lower(text) == "si";
}

JobView ReadJobView(const xml::Element& step)
{
    JobView v;
    if (step.isNull())
        return v;
    v.txtDescrizione = step.child("operazione").text();
    v.chkSvuota = isFlagSet(step.child("svuota").text());
    if (v.chkSvuota)
        v.txtNome = step.name();
    v.txtNomeEnabled = v.chkSvuota;
    v.chkAzzera = isFlagSet(step.child("azzeracontatore").text());
    if (v.chkAzzera)
        v.txtContatore = step.child("contatore").text();
    v.txtContatoreEnabled = v.chkAzzera;
    for (const xml::Element& c : step.children()) {
        if (c.name() != "query")
            continue;
        v.jobTexts.push_back(c.text());
        v.jobEntries.push_back("job" + std::to_string(v.jobTexts.size()));
    }
    if (!v.jobTexts.empty()) {
        v.selectedJob = 0;
        v.txtJob = v.jobTexts.front();
    }
    const xml::Element inc = step.child("incrementale");
    if (!inc.isNull()) {
        v.chkIncrementale = isFlagSet(inc.attribute("attivo").value_or(""));
        if (v.chkIncrementale) {
            v.txtSvuota = engine::lower(inc.attribute("svuota").value_or(""));
            v.txtRiempi = engine::lower(inc.attribute("riempi").value_or(""));
            v.chkAutoUpdate = isFlagSet(inc.attribute("autoupdate").value_or(""));
            v.txtValore = inc.text();
            v.incrementalEnabled = true;
            const auto type = inc.attribute("datatype");
            v.datatypeIndex = !type || engine::lower(*type) == "numerico" ? 0 : 1;
            v.datatypeEnabled = true;
        }
    }
    return v;
}

} // namespace zs::dialogs
