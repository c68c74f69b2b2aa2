#pragma once
// The loading XML's document (DocModuli): the steps that the options dialog shows and a run
// reads, loaded from the file the settings name. The program holds one for its life; the options
// dialog loads it, the run control and zs-extract read it.

#include "xml/XmlDocument.h"

#include <filesystem>

namespace zs::program {

class MessageService;

class LoadingDocument {
  public:
    /// `messages` shows the loader's box for a file that cannot be read.
    explicit LoadingDocument(MessageService& messages);

    /// Loads `fileName` into DocModuli; an empty "Estrattore" document when it cannot (a missing
    /// file silently, any other through the loader's box).
    void CreaDocumentoXML(const std::filesystem::path& fileName);
    xml::Document& DocModuli() { return m_document; }
    const xml::Document& DocModuli() const { return m_document; }

  private:
    MessageService& m_messages;
    xml::Document m_document;
};

} // namespace zs::program
