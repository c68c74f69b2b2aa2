#include "engine/EngineSteps.h"

#include "dblink/LinkModule.h"
#include "engine/Compattazione.h"
#include "engine/DtsPackage.h"
#include "engine/ImportXml.h"

namespace zs::engine {

EngineSteps::EngineSteps(Dependencies deps)
    : UnconnectedEngineHost(deps.log)
    , m_deps(std::move(deps))
{
    dblink::registerLinkModule();
}

bool EngineSteps::CompattaDatabase(const std::string& file)
{
    Compattazione compattazione(m_deps.log, m_deps.settings, m_deps.yield, m_deps.askRetry);
    return compattazione.CompattaDatabase(file);
}

bool EngineSteps::ImportXmlStep(const xml::Element& step)
{
    ImportXml import(m_deps.log, m_deps.messages, m_deps.clock, m_deps.programFolder, m_deps.connection);
    return import.ImportXmlStep(step);
}

bool EngineSteps::MailOrdersStep(const xml::Element& step)
{
    MailOrdini mail(m_deps.log, m_deps.yield, m_deps.connection, m_deps.mailSettings, m_deps.mailer,
                    m_deps.stopRequested);
    return mail.MailOrdersStep(step);
}

bool EngineSteps::ExecuteDtsStep(const xml::Element& step)
{
    DtsPackage package(m_deps.log, m_deps.messages, m_deps.connection);
    return package.ExecuteDtsStep(step);
}

} // namespace zs::engine
