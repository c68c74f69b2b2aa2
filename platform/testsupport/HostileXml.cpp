#include "testsupport/HostileXml.h"

namespace zs::test {

namespace {

std::string utf16le(std::string_view ascii)
{
    std::string out = "\xFF\xFE";
    for (char c : ascii) {
        out += c;
        out += '\0';
    }
    return out;
}

} // namespace

std::vector<HostileXml> hostileXmlFiles(std::string_view rootName, std::string_view body)
{
    const std::string root(rootName);
    const std::string open = "<" + root + ">";
    const std::string close = "</" + root + ">";
    const std::string valid = "<?xml version=\"1.0\"?>" + open + std::string(body) + close;

    std::vector<HostileXml> files;

    std::string deep = open + std::string(body);
    deep.reserve(deep.size() + static_cast<std::size_t>(kHostileDepth) * 7 + close.size());
    for (int i = 0; i < kHostileDepth; ++i)
        deep += "<a>";
    deep += "x";
    for (int i = 0; i < kHostileDepth; ++i)
        deep += "</a>";
    files.push_back({"deep", deep + close});

    // Unclosed deep nesting: the parser must give up, not the stack.
    std::string unclosed = open;
    for (int i = 0; i < kHostileDepth; ++i)
        unclosed += "<b x=\"1\">";
    files.push_back({"deep_unclosed", unclosed});

    std::string huge = open + std::string(body) + "<testo>";
    huge.append(kHostileTextBytes, 'A');
    files.push_back({"huge", huge + "</testo>" + close});

    std::string nul = valid;
    nul.insert(valid.size() / 2, 1, '\0');
    files.push_back({"nul", nul});

    files.push_back({"truncated", valid.substr(0, valid.size() / 2)});
    files.push_back({"utf16", utf16le(valid)});
    files.push_back({"latin1", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>" + open + "<nota>citt\xE0</nota>" +
                                   std::string(body) + close});
    files.push_back({"bad_utf8", open + "\xC3\x28\xFF\xFE" + std::string(body) + close});
    files.push_back({"empty", ""});
    files.push_back({"not_xml", "\x7F"
                                "ELF\x02\x01\x01 {[(<<<&&&;;]]]}"});
    return files;
}

} // namespace zs::test
