#include "engine/DtsPackage.h"

#include "db/Connection.h"
#include "engine/EngineStrings.h"
#include "engine/StepFields.h"
#include "program/ProgramLog.h"
#include "program/ShellServices.h"
#include "xml/XmlDocument.h"

#include <vector>

namespace zs::engine {

DtsPackage::DtsPackage(program::ProgramLog& log, program::MessageService& messages,
                       std::function<db::Connection*()> connection)
    : m_log(log)
    , m_messages(messages)
    , m_connection(std::move(connection))
{}

std::string DtsPackage::createStoreSql()
{
    return std::string("create table ") + kStoreTable +
           " (PackageName varchar(128) not null, StepOrder integer not null, StepName varchar(128) not null, "
           "StepSql varchar(8000) not null, primary key (PackageName, StepOrder))";
}

bool DtsPackage::ExecuteDtsStep(const xml::Element& step)
{
    const StepFields f(step);
    return ExecuteDtsPackage(f["server"], f["username"], f["password"], f["packagename"]);
}

void DtsPackage::failureB(const std::string& source, const std::string& report)
{
    m_log.WriteInLog(source + report + ".ExecutePackage", false, false);
    m_log.OutputResponse(source + report, true, 1);
    m_messages.show(source + report + " .ExecutePackage", program::MessageIcon::Critical, "Errore.");
}

bool DtsPackage::ExecuteDtsPackage(const std::string&, const std::string&, const std::string&,
                                   const std::string& packageName)
{
    db::Connection* c = m_connection ? m_connection() : nullptr;
    if (!c || !c->isOpen()) {
        failureB("Connessione al database non disponibile", "");
        return false;
    }
    auto rows = c->query(std::string("select StepName, StepSql from ") + kStoreTable +
                         " where PackageName = " + sqlQuote(packageName) + " order by StepOrder");
    if (!rows) {
        failureB(
            (c->errors().empty() ? std::string() : c->errors().front().source + ": " + c->errors().front().description),
            "");
        return false;
    }
    if (rows->eof()) {
        failureB("Package " + packageName + " non trovato", "");
        return false;
    }
    struct Step {
        std::string name, sql;
    };
    std::vector<Step> steps;
    for (; !rows->eof(); rows->moveNext())
        steps.push_back({rows->text("StepName"), rows->text("StepSql")});

    std::string report;
    bool ok = true;
    for (const Step& s : steps) {
        if (c->execute(s.sql)) {
            report += "Step \"" + s.name + "\" Succeeded\r\n\r\n";
            continue;
        }
        ok = false;
        const db::Error e = c->errors().empty() ? db::Error{} : c->errors().front();
        report += "Step \"" + s.name + "\" Failed\r\n\tError: " + std::to_string(e.number) +
                  "\r\n\tSource: " + e.source + "\r\n\tDescription: " + e.description + "\r\n\r\n";
        m_log.WriteInLog(report, false, false);
        m_log.OutputResponse("Step \"" + s.name + "\" Failed: " + e.description, true, 1);
        m_messages.show(report, program::MessageIcon::Critical, "Errore.");
    }
    m_log.WriteInLog("Package : " + packageName, false, false);
    m_log.WriteInLog("Step Dts : " + report, false, false);
    return ok;
}

} // namespace zs::engine
