#pragma once
// A recording container for the flat control tests: property-changed notifications and events.

#include "automation/AutomationError.h"
#include "automation/ControlSite.h"
#include "automation/Dispatch.h"
#include "automation/PropertyBag.h"
#include "flatui/core/Hosting.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace zs::flatui::test {

// The automation names every flat control test uses; a test file takes them, with the helpers
// below, by `using namespace zs::flatui::test`.
using automation::colorVariant;
using automation::InvokeKind;
using automation::PropertyBag;
using automation::Variant;
namespace err = automation::err;

/// The automation error number `f` raises, 0 when it raises none.
inline int errorOf(const std::function<void()>& f)
{
    try {
        f();
    } catch (const automation::AutomationError& e) {
        return e.number();
    }
    return 0;
}

class RecordingSite : public automation::ControlSite {
  public:
    bool runMode = true;
    std::vector<std::string> changes;
    bool userMode() const override { return runMode; }
    void propertyChanged(std::string_view bag) override { changes.emplace_back(bag); }
};

/// One property of a control's dispatch table: its name, dispatch id, property-bag name and
/// the value a new instance holds (not compared for an object such as a font or picture).
struct PropertyRow {
    const char* name;
    std::int32_t id;
    const char* bag;
    automation::Variant def;
    bool compareValue = true;
};

/// Checks each row against the control's dispatch table and its current values.
inline void expectProperties(automation::Dispatchable& obj, std::span<const PropertyRow> rows)
{
    const automation::DispatchTable& table = obj.dispatchTable();
    for (const PropertyRow& r : rows) {
        SCOPED_TRACE(r.name);
        const auto* member = table.find(r.id);
        ASSERT_NE(member, nullptr);
        EXPECT_EQ(member->name, r.name);
        EXPECT_EQ(member->bagName, r.bag);
        if (!r.compareValue)
            continue;
        const auto got = table.invoke(obj, r.id, automation::InvokeKind::Get, {});
        ASSERT_TRUE(got);
        EXPECT_TRUE(got.value.sameAs(r.def)) << got.value.toString();
    }
}

/// An effect host whose clock moves only when the control waits (`now`, milliseconds). Every
/// event pass is counted and runs `onPump` with its number, from 1.
template <class Host> class FakeEffectClock : public Host {
  public:
    explicit FakeEffectClock(std::int64_t start)
        : now(start)
    {}
    std::int64_t now;
    int pumps = 0;
    std::function<void(int)> onPump;
    std::int64_t tickMs() override { return now; }
    void sleepMs(int ms) override { now += ms; }
    void pumpEvents() override
    {
        ++pumps;
        if (onPump)
            onPump(pumps);
    }
};

/// Records "Name(arg,arg)" for every event of a control.
struct EventLog {
    std::vector<std::string> lines;
    void attach(automation::Dispatchable& obj, std::vector<std::string>* shared = nullptr)
    {
        const auto& table = obj.dispatchTable();
        auto* out = shared ? shared : &lines;
        obj.events().connect([&table, out](automation::DispId id, std::span<automation::Variant> args) {
            std::string name = "?";
            for (const auto& e : table.events())
                if (e.id == id)
                    name = e.name;
            std::string s = name;
            if (!args.empty()) {
                s += "(";
                for (std::size_t i = 0; i < args.size(); ++i)
                    s += (i ? "," : "") + args[i].toString();
                s += ")";
            }
            out->push_back(s);
        });
    }
};

} // namespace zs::flatui::test
