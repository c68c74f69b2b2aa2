#pragma once
// A recording container for the flat control tests: property-changed notifications and events.

#include "automation/AutomationError.h"
#include "automation/ControlSite.h"
#include "automation/Dispatch.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace zs::flatui::test {

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
/// the value a new instance holds.
struct PropertyRow {
    const char* name;
    std::int32_t id;
    const char* bag;
    automation::Variant def;
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
        EXPECT_TRUE(table.invoke(obj, r.id, automation::InvokeKind::Get, {}).value.sameAs(r.def));
    }
}

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
