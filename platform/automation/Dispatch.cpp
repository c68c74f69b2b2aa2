#include "automation/Dispatch.h"

#include "text/Ascii.h"

#include <algorithm>

namespace zs::automation {

DispatchTable::DispatchTable(std::string className, std::vector<Member> members, std::vector<EventInfo> events)
    : m_className(std::move(className))
    , m_members(std::move(members))
    , m_events(std::move(events))
{
    std::stable_sort(m_members.begin(), m_members.end(), [](const Member& a, const Member& b) { return a.id < b.id; });
}

const Member* DispatchTable::find(DispId id) const
{
    const auto it =
        std::lower_bound(m_members.begin(), m_members.end(), id, [](const Member& m, DispId i) { return m.id < i; });
    return it != m_members.end() && it->id == id ? &*it : nullptr;
}

const Member* DispatchTable::findByName(std::string_view name) const
{
    for (const auto& m : m_members)
        if (text::equalsNoCase(m.name, name))
            return &m;
    return nullptr;
}

const EventInfo* DispatchTable::findEvent(std::string_view name) const
{
    for (const auto& e : m_events)
        if (e.name == name)
            return &e;
    return nullptr;
}

CallResult DispatchTable::invoke(Dispatchable& obj, DispId id, InvokeKind kind, std::span<Variant> args) const
{
    CallResult r;
    try {
        const Member* m = find(id);
        if (!m)
            throw AutomationError(err::kMemberNotFound);
        switch (kind) {
        case InvokeKind::Get:
            if (m->get)
                r.value = m->get(obj, args);
            else if (m->method) // a method called as a property get
                r.value = m->method(obj, args);
            else
                throw AutomationError(err::kMemberNotFound);
            break;
        case InvokeKind::Put:
            if (!m->get && !m->put)
                throw AutomationError(err::kMemberNotFound);
            if (args.empty())
                throw AutomationError(err::kWrongArgumentCount);
            if (m->put) // read-only properties ignore the put
                m->put(obj, args.first(args.size() - 1), args.back());
            break;
        case InvokeKind::Method:
            if (m->method)
                r.value = m->method(obj, args);
            else if (m->get)
                r.value = m->get(obj, args);
            else
                throw AutomationError(err::kMemberNotFound);
            break;
        }
    } catch (const AutomationError& e) {
        r.ok = false;
        r.errorNumber = e.number();
        r.errorText = e.what();
        r.value = Variant();
    } catch (const std::exception& e) {
        r.ok = false;
        r.errorNumber = 5; // invalid procedure call
        r.errorText = e.what();
        r.value = Variant();
    }
    return r;
}

Variant optionalArg(std::span<Variant> args, std::size_t i, const Variant& def)
{
    if (i >= args.size() || args[i].isEmpty())
        return def;
    return args[i];
}

const Variant& requiredArg(std::span<Variant> args, std::size_t i)
{
    if (i >= args.size())
        throw AutomationError(err::kWrongArgumentCount);
    return args[i];
}

} // namespace zs::automation
