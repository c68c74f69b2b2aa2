#pragma once
// What the job viewer (frmJob, "Proprietà") shows of one step element of the loading XML:
// emptying, counter, the list of SQL jobs and the incremental-extraction settings. Read-only.

#include <string>
#include <vector>

namespace zs::xml {
class Element;
}

namespace zs::dialogs {

struct JobView {
    std::string txtDescrizione;
    bool chkSvuota = false;
    std::string txtNome;
    bool txtNomeEnabled = false;
    bool chkAzzera = false;
    std::string txtContatore;
    bool txtContatoreEnabled = false;
    std::vector<std::string> jobEntries; ///< "job1", "job2", …
    std::vector<std::string> jobTexts;   ///< the SQL of each entry
    int selectedJob = -1;
    std::string txtJob;
    bool chkIncrementale = false;
    std::string txtSvuota;
    std::string txtRiempi;
    bool chkAutoUpdate = false;
    std::string txtValore;
    int datatypeIndex = 0;           ///< 0 "numerico", 1 "stringa"
    bool incrementalEnabled = false; ///< txtSvuota, txtRiempi, txtValore, chkAutoUpdate
    bool datatypeEnabled = false;
};

/// A flag of the loading XML: set when its text, lower-cased, is "si".
bool isFlagSet(const std::string& text);

JobView ReadJobView(const xml::Element& step);

} // namespace zs::dialogs
