// Parses arbitrary bytes as an XML document and, when they parse, walks every element the way
// the readers do: names, attributes, text, children, serialisation, then edits a copy.

#include "xml/XmlDocument.h"

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    zs::xml::ParseError error;
    auto doc = zs::xml::Document::loadString(text, &error);
    if (!doc)
        return 0;
    std::vector<zs::xml::Element> pending{doc->root()};
    std::size_t visited = 0;
    while (!pending.empty() && visited < 100000) {
        const zs::xml::Element e = pending.back();
        pending.pop_back();
        ++visited;
        (void)e.localName();
        (void)e.attributes();
        (void)e.attribute("nome");
        (void)e.child("operazione");
        (void)e.parent();
        if (visited < 64)
            (void)e.text();
        for (const zs::xml::Element& c : e.children())
            pending.push_back(c);
    }
    (void)doc->xml();
    zs::xml::Element root = doc->root();
    if (zs::xml::Element first = root.firstChild()) {
        (void)first.xml();
        root.removeChild(first);
    }
    root.setAttribute("x", text.substr(0, 16));
    root.setText("fine");
    (void)doc->createRoot("nuovo");
    return 0;
}
