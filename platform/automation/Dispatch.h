#pragma once
// Late-bound calls by dispatch id. Each class declares one static DispatchTable: dispatch id ->
// property get, property put, or method, with its name. The ids are part of the contract with
// hosts, so they are declared explicitly, never derived. A put on a property without a setter
// is ignored; an unknown id fails with error 438; an error raised inside a member comes back
// as the call's error.

#include "automation/AutomationError.h"
#include "automation/EventSource.h"
#include "automation/Variant.h"

#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zs::automation {

/// The standard font property id.
inline constexpr DispId kDispIdFont = -512;

class DispatchTable;

/// Base of every automation class.
class Dispatchable : public AutomationObject {
  public:
    virtual const DispatchTable& dispatchTable() const = 0;
    /// The outgoing events; classes without events return an empty source.
    virtual EventSource& events() = 0;
};

enum class InvokeKind { Get, Put, Method };

struct CallResult {
    bool ok = true;
    Variant value;
    int errorNumber = 0;
    std::string errorText;
    explicit operator bool() const { return ok; }
};

struct Member {
    using Getter = std::function<Variant(Dispatchable&, std::span<Variant> args)>;
    using Putter = std::function<void(Dispatchable&, std::span<Variant> args, const Variant& value)>;
    using Method = std::function<Variant(Dispatchable&, std::span<Variant> args)>;

    DispId id = 0;
    std::string name;
    Getter get;          ///< set for properties and data members
    Putter put;          ///< empty for read-only properties
    Method method;       ///< set for methods
    std::string bagName; ///< empty when not persisted
};

struct EventInfo {
    DispId id = 0;
    std::string name;
    int argCount = 0;
};

class DispatchTable {
  public:
    DispatchTable(std::string className, std::vector<Member> members, std::vector<EventInfo> events = {});

    const std::string& className() const { return m_className; }
    const Member* find(DispId id) const;
    /// Case-insensitive, as late-bound callers name members.
    const Member* findByName(std::string_view name) const;
    const std::vector<Member>& members() const { return m_members; }
    const std::vector<EventInfo>& events() const { return m_events; }
    const EventInfo* findEvent(std::string_view name) const;

    /// Never throws: errors come back in the result. For Put the new value is args.back().
    CallResult invoke(Dispatchable& obj, DispId id, InvokeKind kind, std::span<Variant> args) const;

  private:
    std::string m_className;
    std::vector<Member> m_members; // sorted by id
    std::vector<EventInfo> m_events;
};

/// Builds a table for class T with typed lambdas.
template <class T> class DispatchTableBuilder {
  public:
    explicit DispatchTableBuilder(std::string className)
        : m_className(std::move(className))
    {}

    /// A property with a getter and a setter taking the converted variant.
    DispatchTableBuilder& property(DispId id, std::string name, std::string bagName, std::function<Variant(T&)> get,
                                   std::function<void(T&, const Variant&)> put)
    {
        Member m{id, std::move(name), {}, {}, {}, std::move(bagName)};
        m.get = [get = std::move(get)](Dispatchable& o, std::span<Variant>) { return get(static_cast<T&>(o)); };
        if (put)
            m.put = [put = std::move(put)](Dispatchable& o, std::span<Variant>, const Variant& v) {
                put(static_cast<T&>(o), v);
            };
        m_members.push_back(std::move(m));
        return *this;
    }
    /// A property that takes arguments (an indexed property such as Labels(i)).
    DispatchTableBuilder& indexedProperty(DispId id, std::string name,
                                          std::function<Variant(T&, std::span<Variant>)> get,
                                          std::function<void(T&, std::span<Variant>, const Variant&)> put)
    {
        Member m{id, std::move(name), {}, {}, {}, {}};
        m.get = [get = std::move(get)](Dispatchable& o, std::span<Variant> a) { return get(static_cast<T&>(o), a); };
        if (put)
            m.put = [put = std::move(put)](Dispatchable& o, std::span<Variant> a, const Variant& v) {
                put(static_cast<T&>(o), a, v);
            };
        m_members.push_back(std::move(m));
        return *this;
    }
    DispatchTableBuilder& method(DispId id, std::string name, std::function<Variant(T&, std::span<Variant>)> fn)
    {
        Member m{id, std::move(name), {}, {}, {}, {}};
        m.method = [fn = std::move(fn)](Dispatchable& o, std::span<Variant> a) { return fn(static_cast<T&>(o), a); };
        m_members.push_back(std::move(m));
        return *this;
    }
    DispatchTableBuilder& event(DispId id, std::string name, int argCount)
    {
        m_events.push_back({id, std::move(name), argCount});
        return *this;
    }
    DispatchTable build() { return DispatchTable(std::move(m_className), std::move(m_members), std::move(m_events)); }

  private:
    std::string m_className;
    std::vector<Member> m_members;
    std::vector<EventInfo> m_events;
};

/// Optional argument i, or `def` when missing or Empty (the runtime's "missing" marker).
Variant optionalArg(std::span<Variant> args, std::size_t i, const Variant& def);
/// Required argument i; error 450 when missing.
const Variant& requiredArg(std::span<Variant> args, std::size_t i);

} // namespace zs::automation
