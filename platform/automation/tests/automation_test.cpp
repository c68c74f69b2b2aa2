#include "automation/ClassRegistry.h"
#include "automation/Dispatch.h"
#include "automation/PropertyBag.h"
#include "automation/Variant.h"

#include <gtest/gtest.h>

using namespace zs::automation;
using zs::time::DateTime;

namespace {

int errorOf(const std::function<void()>& f)
{
    try {
        f();
    } catch (const AutomationError& e) {
        return e.number();
    }
    return 0;
}

} // namespace

TEST(Variant, BooleanConversions)
{
    struct Case {
        const char* name;
        Variant v;
        bool expected;
    };
    const Case cases[] = {
        {"True", Variant("True"), true},      {"false lower", Variant("false"), false},
        {"Vero", Variant("Vero"), true},      {"FALSO", Variant(" FALSO "), false},
        {"number text", Variant("-1"), true}, {"zero text", Variant("0"), false},
        {"comma text", Variant("0,5"), true}, {"empty", Variant(), false},
        {"long", Variant(7), true},           {"double zero", Variant(0.0), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.v.toBool(), c.expected);
    }
    EXPECT_EQ(errorOf([] { (void)Variant("forse").toBool(); }), err::kTypeMismatch);
    EXPECT_EQ(errorOf([] { (void)Variant::null().toBool(); }), err::kInvalidUseOfNull);
}

TEST(Variant, WholeNumbersRoundHalfToEvenAndOverflow)
{
    EXPECT_EQ(Variant(2.5).toInt16(), 2);
    EXPECT_EQ(Variant(3.5).toInt16(), 4);
    EXPECT_EQ(Variant(-2.5).toInt32(), -2);
    EXPECT_EQ(Variant("12,5").toInt32(), 12);
    EXPECT_EQ(Variant(true).toInt16(), -1);
    EXPECT_EQ(Variant("True").toInt32(), -1);
    EXPECT_EQ(Variant(32767.4).toInt16(), 32767);
    EXPECT_EQ(errorOf([] { (void)Variant(32767.5).toInt16(); }), err::kOverflow);
    EXPECT_EQ(errorOf([] { (void)Variant(40000).toInt16(); }), err::kOverflow);
    EXPECT_EQ(errorOf([] { (void)Variant(3e9).toInt32(); }), err::kOverflow);
    EXPECT_EQ(errorOf([] { (void)Variant("abc").toDouble(); }), err::kTypeMismatch);
}

TEST(Variant, Strings)
{
    EXPECT_EQ(Variant(true).toString(), "True");
    EXPECT_EQ(Variant(false).toString(), "False");
    EXPECT_EQ(Variant(1.5).toString(), "1,5");
    EXPECT_EQ(Variant(std::int16_t{-3}).toString(), "-3");
    EXPECT_EQ(Variant().toString(), "");
    EXPECT_EQ(Variant(DateTime{2004, 3, 7, 0, 0, 0}).toString(), "07/03/2004");
    EXPECT_EQ(Variant(DateTime{2004, 3, 7, 8, 5, 0}).toString(), "07/03/2004 08:05:00");
    EXPECT_EQ(Variant(DateTime{1899, 12, 30, 8, 5, 0}).toString(), "08:05:00");
}

TEST(Variant, DatesAreDaySerials)
{
    EXPECT_DOUBLE_EQ(toSerial(DateTime{1899, 12, 30, 0, 0, 0}), 0.0);
    EXPECT_DOUBLE_EQ(toSerial(DateTime{1900, 1, 1, 12, 0, 0}), 2.5);
    EXPECT_EQ(fromSerial(38053.25), (DateTime{2004, 3, 7, 6, 0, 0}));
    EXPECT_EQ(Variant("07/03/2004").toDate(), (DateTime{2004, 3, 7, 0, 0, 0}));
    EXPECT_EQ(Variant(38053).toDate(), (DateTime{2004, 3, 7, 0, 0, 0}));
    EXPECT_EQ(errorOf([] { (void)Variant("domani").toDate(); }), err::kTypeMismatch);
    // Text goes through the one date reader: two-digit years are this century, nothing may trail.
    EXPECT_EQ(Variant("07/03/04").toDate(), (DateTime{2004, 3, 7, 0, 0, 0}));
    EXPECT_EQ(Variant("7.3.2004 10:30").toDate(), (DateTime{2004, 3, 7, 10, 30, 0}));
    EXPECT_EQ(errorOf([] { (void)Variant("07/03/2004xyz").toDate(); }), err::kTypeMismatch);
}

TEST(Variant, NotFollowsTheOperandType)
{
    EXPECT_EQ(logicalNot(Variant(true)).type(), VarType::Boolean);
    EXPECT_FALSE(logicalNot(Variant(true)).toBool());
    EXPECT_FALSE(logicalNot(Variant("True")).toBool());
    EXPECT_TRUE(logicalNot(Variant("Falso")).toBool());
    EXPECT_EQ(logicalNot(Variant(0)).toInt32(), -1);
    EXPECT_EQ(logicalNot(Variant(-1)).toInt32(), 0);
    EXPECT_EQ(logicalNot(Variant(std::int16_t{5})).toInt16(), -6);
    EXPECT_EQ(logicalNot(Variant()).toInt16(), -1);
    EXPECT_TRUE(logicalNot(Variant::null()).isNull());
    EXPECT_EQ(errorOf([] { (void)logicalNot(Variant("boh")); }), err::kTypeMismatch);
}

TEST(Variant, ColorsKeepTheirBits)
{
    EXPECT_EQ(colorVariant(0x8000000Fu).toColor(), 0x8000000Fu);
    EXPECT_EQ(Variant(16777215.0).toColor(), 0xFFFFFFu);
    EXPECT_EQ(Variant(2147483663.0).toColor(), 0x8000000Fu);
}

TEST(PropertyBag, MissingReadsDefaultAndDefaultsAreLeftOut)
{
    PropertyBag bag;
    EXPECT_EQ(bag.read("Enabled", Variant(true)).toBool(), true);
    bag.write("Enabled", Variant(false), Variant(true));
    EXPECT_TRUE(bag.contains("Enabled"));
    EXPECT_FALSE(bag.contains("enabled")); // names are case-sensitive
    EXPECT_FALSE(bag.read("Enabled", Variant(true)).toBool());
    bag.write("Enabled", Variant(true), Variant(true));
    EXPECT_FALSE(bag.contains("Enabled"));
    bag.write("cols", Variant(std::int16_t{3}), Variant(3)); // numbers compare by value
    EXPECT_EQ(bag.size(), 0u);
}

namespace {

class Counter : public Dispatchable {
  public:
    const DispatchTable& dispatchTable() const override;
    EventSource& events() override { return m_events; }

    std::int32_t value = 0;
    std::string label = "x";
    EventSource m_events;
};

const DispatchTable& Counter::dispatchTable() const
{
    static const DispatchTable table =
        DispatchTableBuilder<Counter>("Counter")
            .property(
                0x68030001, "Value", "Value", [](Counter& c) { return Variant(c.value); },
                [](Counter& c, const Variant& v) { c.value = v.toInt32(); })
            .property(
                0x68030000, "Label", "", [](Counter& c) { return Variant(c.label); }, nullptr)
            .method(0x60030002, "Add",
                    [](Counter& c, std::span<Variant> a) {
                        c.value += requiredArg(a, 0).toInt32();
                        a[0] = Variant(c.value); // by reference
                        return Variant(c.value);
                    })
            .method(0x60030003, "Fail",
                    [](Counter&, std::span<Variant>) -> Variant { throw AutomationError(err::kSubscriptOutOfRange); })
            .event(1, "Changed", 1)
            .build();
    return table;
}

} // namespace

TEST(Dispatch, PropertiesMethodsAndErrors)
{
    Counter c;
    const auto& t = c.dispatchTable();
    std::vector<Variant> args{Variant("41,6")};
    ASSERT_TRUE(t.invoke(c, 0x68030001, InvokeKind::Put, args));
    EXPECT_EQ(c.value, 42);
    EXPECT_EQ(t.invoke(c, 0x68030001, InvokeKind::Get, {}).value.toInt32(), 42);

    std::vector<Variant> label{Variant("nuovo")};
    EXPECT_TRUE(t.invoke(c, 0x68030000, InvokeKind::Put, label)); // read-only: ignored
    EXPECT_EQ(c.label, "x");

    std::vector<Variant> add{Variant(8)};
    EXPECT_EQ(t.invoke(c, 0x60030002, InvokeKind::Method, add).value.toInt32(), 50);
    EXPECT_EQ(add[0].toInt32(), 50);

    const auto unknown = t.invoke(c, 0x12345, InvokeKind::Get, {});
    EXPECT_FALSE(unknown);
    EXPECT_EQ(unknown.errorNumber, err::kMemberNotFound);

    const auto failed = t.invoke(c, 0x60030003, InvokeKind::Method, {});
    EXPECT_EQ(failed.errorNumber, err::kSubscriptOutOfRange);
    EXPECT_EQ(failed.errorText, "Subscript out of range");

    std::vector<Variant> bad{Variant("tanti")};
    EXPECT_EQ(t.invoke(c, 0x68030001, InvokeKind::Put, bad).errorNumber, err::kTypeMismatch);
    EXPECT_EQ(c.value, 50);
    EXPECT_EQ(t.invoke(c, 0x60030002, InvokeKind::Method, {}).errorNumber, err::kWrongArgumentCount);

    ASSERT_NE(t.findByName("add"), nullptr);
    EXPECT_EQ(t.findByName("add")->id, 0x60030002);
}

TEST(Events, HandlersSeeAndChangeArgumentsInOrder)
{
    EventSource src;
    std::vector<std::string> seen;
    src.connect([&](DispId id, std::span<Variant> a) {
        seen.push_back("first " + std::to_string(id) + " " + a[0].toString());
        a[0] = Variant(0);
    });
    const int second = src.connect([&](DispId, std::span<Variant> a) { seen.push_back("second " + a[0].toString()); });
    std::vector<Variant> args{Variant(13)};
    src.raise(3, args);
    EXPECT_EQ(args[0].toInt32(), 0);
    src.disconnect(second);
    src.raise(3, args);
    EXPECT_EQ(seen, (std::vector<std::string>{"first 3 13", "second 0", "first 3 0"}));
}

TEST(ClassRegistry, CreatesByProgIdOrClsid)
{
    ClassRegistry reg;
    reg.add({"Demo.Counter", "{0BAD5C30-A787-4C05-9256-BE3733299484}", "_Counter", "", "__Counter", "",
             [] { return std::make_unique<Counter>(); }});
    EXPECT_NE(reg.create("demo.counter"), nullptr);
    EXPECT_NE(reg.create("{0bad5c30-a787-4c05-9256-be3733299484}"), nullptr);
    ASSERT_NE(reg.byClsid("0BAD5C30-A787-4C05-9256-BE3733299484"), nullptr);
    EXPECT_EQ(reg.create("Demo.Missing"), nullptr);
    reg.removeLibrary("Demo");
    EXPECT_EQ(reg.create("Demo.Counter"), nullptr);
}
