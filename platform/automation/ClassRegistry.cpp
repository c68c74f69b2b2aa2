#include "automation/ClassRegistry.h"

#include "text/Ascii.h"

#include <algorithm>

namespace zs::automation {

namespace {

std::string normalised(std::string_view s, bool stripBraces)
{
    if (stripBraces && s.size() >= 2 && s.front() == '{' && s.back() == '}')
        s = s.substr(1, s.size() - 2);
    return text::upperAscii(s);
}

} // namespace

void ClassRegistry::add(ClassInfo info)
{
    const std::string key = normalised(info.progId, false);
    for (auto& c : m_classes)
        if (normalised(c.progId, false) == key) {
            c = std::move(info);
            return;
        }
    m_classes.push_back(std::move(info));
}

void ClassRegistry::removeLibrary(std::string_view libraryPrefix)
{
    const std::string prefix = normalised(libraryPrefix, false) + ".";
    std::erase_if(m_classes, [&](const ClassInfo& c) { return normalised(c.progId, false).starts_with(prefix); });
}

const ClassInfo* ClassRegistry::byProgId(std::string_view progId) const
{
    const std::string key = normalised(progId, false);
    for (const auto& c : m_classes)
        if (normalised(c.progId, false) == key)
            return &c;
    return nullptr;
}

const ClassInfo* ClassRegistry::byClsid(std::string_view clsid) const
{
    const std::string key = normalised(clsid, true);
    for (const auto& c : m_classes)
        if (normalised(c.clsid, true) == key)
            return &c;
    return nullptr;
}

std::unique_ptr<Dispatchable> ClassRegistry::create(std::string_view name) const
{
    const ClassInfo* c = byProgId(name);
    if (!c)
        c = byClsid(name);
    if (!c || !c->create)
        return nullptr;
    return c->create();
}

} // namespace zs::automation
