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

/// The class whose `field` matches `name` without regard to case (and braces, for a CLSID).
const ClassInfo* findBy(const std::vector<ClassInfo>& classes, std::string ClassInfo::*field, std::string_view name,
                        bool stripBraces)
{
    const std::string key = normalised(name, stripBraces);
    const auto it = std::find_if(classes.begin(), classes.end(),
                                 [&](const ClassInfo& c) { return normalised(c.*field, stripBraces) == key; });
    return it == classes.end() ? nullptr : &*it;
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
    return findBy(m_classes, &ClassInfo::progId, progId, false);
}

const ClassInfo* ClassRegistry::byClsid(std::string_view clsid) const
{
    return findBy(m_classes, &ClassInfo::clsid, clsid, true);
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
