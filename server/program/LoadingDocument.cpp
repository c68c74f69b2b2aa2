#include "program/LoadingDocument.h"

#include "program/SettingsStore.h"

namespace zs::program {

LoadingDocument::LoadingDocument(MessageService& messages)
    : m_messages(messages)
{
    m_document.createRoot("Estrattore");
}

void LoadingDocument::CreaDocumentoXML(const std::filesystem::path& fileName)
{
    if (auto doc = CaricaXML(fileName, m_messages)) {
        m_document = std::move(*doc);
        return;
    }
    m_document = xml::Document();
    m_document.createRoot("Estrattore");
}

} // namespace zs::program
