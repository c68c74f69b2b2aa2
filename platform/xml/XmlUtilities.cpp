#include "xml/XmlUtilities.h"

#include "fs/AtomicFile.h"
#include "fs/FileOps.h"
#include "xml/XmlDocument.h"

namespace zs::xml {

bool SaveUtf8File(const std::filesystem::path& fileName, std::string_view text, std::string* error, bool privateFile)
{
    return SaveUtf8File(fileName, text, error, privateFile, fs::systemFileOps());
}

bool SaveUtf8File(const std::filesystem::path& fileName, std::string_view text, std::string* error, bool privateFile,
                  fs::FileOps& ops)
{
    std::string bytes;
    bytes.reserve(text.size() + 3);
    bytes += "\xEF\xBB\xBF";
    bytes += text;
    return fs::writeFileAtomic(fileName, bytes, {.privateMode = privateFile}, error, ops);
}

std::string formattedXml(const Document& document)
{
    const std::string in = document.xml();
    std::string out;
    out.reserve(in.size());
    for (std::size_t i = 0; i < in.size(); ++i) {
        if (in[i] == '\r' && i + 1 < in.size() && in[i + 1] == '\n') {
            ++i;
            continue;
        }
        out += in[i];
    }
    return out;
}

bool FormatXml(const Document& document, const std::filesystem::path& fileName, std::string* error, bool privateFile)
{
    return FormatXml(document, fileName, error, privateFile, fs::systemFileOps());
}

bool FormatXml(const Document& document, const std::filesystem::path& fileName, std::string* error, bool privateFile,
               fs::FileOps& ops)
{
    return SaveUtf8File(fileName, formattedXml(document), error, privateFile, ops);
}

} // namespace zs::xml
