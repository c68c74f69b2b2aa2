// The next-occurrence rule and the operation's store element.

#include "scheduler/Operazione.h"

#include "time/Clock.h"

#include <gtest/gtest.h>

using zs::cadenzo::clsOperazione;
using zs::time::DateTime;
using zs::time::FakeClock;

namespace {

struct NextCase {
    const char* name;
    DateTime now;
    DateTime start;
    const char* periodicita;
    const char* escludi;
    DateTime expected;
};

const DateTime kWed{2026, 3, 25, 10, 0, 0}; // a Wednesday

const NextCase kNextCases[] = {
    {"future start is kept whatever the period",
     kWed,
     {2026, 3, 27, 8, 0, 0},
     "Ogni 6 ore",
     "niente",
     {2026, 3, 27, 8, 0, 0}},
    {"future start, once", kWed, {2026, 3, 27, 8, 0, 0}, "Una volta sola", "niente", {2026, 3, 27, 8, 0, 0}},
    {"start equal to now is not moved", kWed, kWed, "Ogni giorno", "niente", kWed},
    {"once with a past start stays in the past",
     kWed,
     {2026, 3, 20, 6, 30, 0},
     "Una volta sola",
     "niente",
     {2026, 3, 20, 6, 30, 0}},
    {"unknown period text behaves as once",
     kWed,
     {2026, 3, 20, 6, 30, 0},
     "Ogni tanto",
     "venerdì",
     {2026, 3, 20, 6, 30, 0}},
    {"daily from last week moves to the next 06:30",
     kWed,
     {2026, 3, 18, 6, 30, 0},
     "Ogni giorno",
     "niente",
     {2026, 3, 26, 6, 30, 0}},
    {"every 12 hours", kWed, {2026, 3, 24, 11, 0, 0}, "Ogni 12 ore", "niente", {2026, 3, 25, 11, 0, 0}},
    {"weekly", kWed, {2026, 3, 4, 9, 15, 0}, "Una volta a settimana", "niente", {2026, 4, 1, 9, 15, 0}},
    {"twice a week steps three and a half days",
     kWed,
     {2026, 3, 20, 6, 30, 0},
     "Due volte a settimana",
     "niente",
     {2026, 3, 27, 6, 30, 0}},
    {"daily skips the excluded Sunday",
     kWed,
     {2026, 3, 29, 12, 0, 0},
     "Ogni giorno",
     "domenica",
     {2026, 3, 30, 12, 0, 0}},
    {"Monday with its accent is excluded",
     kWed,
     {2026, 3, 30, 12, 0, 0},
     "Ogni giorno",
     "lunedì",
     {2026, 3, 31, 12, 0, 0}},
    {"exclusion is case-sensitive", kWed, {2026, 3, 29, 12, 0, 0}, "Ogni giorno", "Domenica", {2026, 3, 29, 12, 0, 0}},
    {"niente excludes nothing", kWed, {2026, 3, 29, 12, 0, 0}, "Ogni giorno", "niente", {2026, 3, 29, 12, 0, 0}},
    {"exclusion has no effect without a step",
     kWed,
     {2026, 3, 29, 12, 0, 0},
     "Una volta sola",
     "domenica",
     {2026, 3, 29, 12, 0, 0}},
    {"weekly on the excluded day runs out after 1000 weeks",
     kWed,
     {2026, 3, 25, 12, 0, 0},
     "Una volta a settimana",
     "mercoledì",
     {2045, 5, 24, 12, 0, 0}},
    {"every 6 hours from long ago runs out still in the past",
     kWed,
     {2025, 1, 1, 0, 0, 0},
     "Ogni 6 ore",
     "niente",
     {2025, 9, 8, 0, 0, 0}},
    {"monthly from 31 January falls on the last of February",
     {2026, 2, 10, 0, 0, 0},
     {2026, 1, 31, 9, 0, 0},
     "Una volta al mese",
     "niente",
     {2026, 2, 28, 9, 0, 0}},
    {"monthly in a leap year",
     {2024, 2, 10, 0, 0, 0},
     {2024, 1, 31, 9, 0, 0},
     "Una volta al mese",
     "niente",
     {2024, 2, 29, 9, 0, 0}},
    {"monthly keeps the clamped day afterwards",
     {2026, 3, 29, 0, 0, 0},
     {2026, 1, 31, 9, 0, 0},
     "Una volta al mese",
     "niente",
     {2026, 4, 28, 9, 0, 0}},
    // Europe moves its clocks on 29 March 2026 at 02:00: the wall-clock time stays 06:30.
    {"daily across the spring clock change keeps 06:30",
     {2026, 3, 30, 7, 0, 0},
     {2026, 3, 27, 6, 30, 0},
     "Ogni giorno",
     "niente",
     {2026, 3, 31, 6, 30, 0}},
    {"every 6 hours across the autumn clock change",
     {2026, 10, 25, 7, 0, 0},
     {2026, 10, 24, 20, 0, 0},
     "Ogni 6 ore",
     "niente",
     {2026, 10, 25, 8, 0, 0}},
};

} // namespace

TEST(Operazione, NextOccurrence)
{
    for (const NextCase& c : kNextCases) {
        SCOPED_TRACE(c.name);
        FakeClock clock(c.now);
        clsOperazione op;
        DateTime data = c.start;
        data.hour = 17; // only the date part of Data counts
        op.setData(data);
        op.setOra(c.start.hour);
        op.setMinuti(c.start.minute);
        op.setPeriodicita(c.periodicita);
        op.setEscludi(c.escludi);
        EXPECT_EQ(op.CalcolaProssimoAppuntamento(clock), c.expected);
        EXPECT_EQ(op.ProssimoAppuntamento(), c.expected);
    }
}

TEST(Operazione, NewObjectDefaults)
{
    clsOperazione op;
    EXPECT_EQ(op.azione(), "");
    EXPECT_EQ(op.Periodicita(), "Una volta sola");
    EXPECT_FALSE(op.Abilitato());
    EXPECT_EQ(op.Data(), (DateTime{1899, 12, 30, 0, 0, 0}));
    EXPECT_EQ(op.ProssimoAppuntamento(), (DateTime{1899, 12, 30, 0, 0, 0}));
}

TEST(Operazione, HourOrMinuteOutOfRangeCountsAsZero)
{
    FakeClock clock({2026, 1, 1, 0, 0, 0});
    clsOperazione op;
    op.setData({2026, 6, 1, 0, 0, 0});
    op.setOra(25);
    op.setMinuti(-3);
    EXPECT_EQ(op.CalcolaProssimoAppuntamento(clock), (DateTime{2026, 6, 1, 0, 0, 0}));
    op.setOra(23);
    op.setMinuti(60);
    EXPECT_EQ(op.CalcolaProssimoAppuntamento(clock), (DateTime{2026, 6, 1, 23, 0, 0}));
}

TEST(Operazione, ToXmlMovesTheStartOntoTheNextOccurrence)
{
    clsOperazione op;
    op.setAzione("Estrazione ed Elaborazione.");
    op.setData({2026, 12, 1, 0, 0, 0});
    op.setOra(22);
    op.setMinuti(5);
    op.setEscludi("lunedì");
    op.setPeriodicita("Ogni giorno");
    op.setAbilitato(true);
    op.setProssimoAppuntamento({2026, 12, 8, 6, 30, 0});
    EXPECT_EQ(op.ToXml(), "\r\n<operazione>\r\n"
                          "<azione>Estrazione ed Elaborazione.</azione>\r\n"
                          "<data>08/12/2026</data>\r\n"
                          "<ora>6</ora>\r\n"
                          "<minuti>30</minuti>\r\n"
                          "<escludi>lunedì</escludi>\r\n"
                          "<periodicita>Ogni giorno</periodicita>\r\n"
                          "<abilitato>1</abilitato>\r\n"
                          "</operazione>\r\n");
    EXPECT_EQ(op.Data(), (DateTime{2026, 12, 8, 0, 0, 0}));
    EXPECT_EQ(op.Ora(), 6);
    EXPECT_EQ(op.Minuti(), 30);
}

TEST(Operazione, ToXmlEscapesTexts)
{
    clsOperazione op;
    op.setAzione("Carica & <elabora>");
    op.setEscludi("a\x01"
                  "b");
    const std::string x = op.ToXml();
    EXPECT_NE(x.find("<azione>Carica &amp; &lt;elabora&gt;</azione>"), std::string::npos);
    EXPECT_NE(x.find("<escludi>ab</escludi>"), std::string::npos);
    EXPECT_NE(x.find("<abilitato>0</abilitato>"), std::string::npos);
}

TEST(Operazione, LateBoundMembersKeepTheirIds)
{
    clsOperazione op;
    const auto& table = op.dispatchTable();
    const std::pair<zs::automation::DispId, const char*> ids[] = {{0x60030008, "CalcolaProssimoAppuntamento"},
                                                                  {0x68030007, "ProssimoAppuntamento"},
                                                                  {0x68030006, "Abilitato"},
                                                                  {0x68030005, "Escludi"},
                                                                  {0x68030004, "Periodicita"},
                                                                  {0x68030003, "Minuti"},
                                                                  {0x68030002, "Ora"},
                                                                  {0x68030001, "Data"},
                                                                  {0x68030000, "azione"},
                                                                  {0x60030009, "ToXml"}};
    for (const auto& [id, name] : ids) {
        SCOPED_TRACE(name);
        ASSERT_NE(table.find(id), nullptr);
        EXPECT_EQ(table.find(id)->name, name);
    }
    using zs::automation::InvokeKind;
    using zs::automation::Variant;
    Variant hour[] = {Variant("7")};
    ASSERT_TRUE(table.invoke(op, 0x68030002, InvokeKind::Put, hour));
    EXPECT_EQ(op.Ora(), 7);
    Variant bad[] = {Variant("sette")};
    EXPECT_EQ(table.invoke(op, 0x68030002, InvokeKind::Put, bad).errorNumber, 13);
    Variant on[] = {Variant("Vero")};
    ASSERT_TRUE(table.invoke(op, 0x68030006, InvokeKind::Put, on));
    EXPECT_TRUE(op.Abilitato());
    EXPECT_NE(table.invoke(op, 0x60030009, InvokeKind::Method, {}).value.toString().find("<ora>"), std::string::npos);
}
