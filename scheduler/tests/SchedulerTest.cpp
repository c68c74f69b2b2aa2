// The scheduler's start delay and poll, driven by a fake clock and fake timers.

#include "SchedulerHarness.h"

#include "scheduler/OperationStore.h"
#include "scheduler/Operazione.h"
#include "scheduler/OperazioneForm.h"

#include "testsupport/TestEnv.h"

#include <gtest/gtest.h>

#include <map>

using namespace zs::cadenzo;
using zs::time::DateTime;

namespace {

class PollTest : public ::testing::Test {
  protected:
    zs::test::ScopedTestEnv env;
    test::Harness h{{2026, 3, 25, 6, 29, 0}};
    std::vector<std::string> alarms;

    void SetUp() override
    {
        std::filesystem::create_directories(env.home());
        h.scheduler.SetPath(env.home().string());
        h.scheduler.AddOperation("Estrazione ed Elaborazione.");
        h.scheduler.AddOperation("Elaborazione dati.");
        h.scheduler.setAlarmHandler([this](const std::string& a) { alarms.push_back(a); });
    }

    /// Writes a store holding the given operations (their next occurrence is their start).
    void writeStore(const std::vector<std::shared_ptr<clsOperazione>>& ops)
    {
        std::string error;
        ASSERT_TRUE(saveStore(env.home() / "cadenzo.xml", ops, &error)) << error;
    }

    static std::shared_ptr<clsOperazione> op(const std::string& azione, DateTime at, const char* periodicita,
                                             bool abilitato = true)
    {
        auto o = std::make_shared<clsOperazione>();
        o->setAzione(azione);
        o->setEscludi("niente");
        o->setPeriodicita(periodicita);
        o->setAbilitato(abilitato);
        o->setProssimoAppuntamento(at);
        return o;
    }
    std::string store() const { return zs::test::readFile(env.home() / "cadenzo.xml"); }
};

} // namespace

TEST_F(PollTest, ShortDelayPollsAtOnce)
{
    ASSERT_TRUE(h.scheduler.Start(5));
    EXPECT_EQ(h.scheduler.caption(), "Operazioni previste");
    EXPECT_TRUE(h.pollTimer.isEnabled());
    EXPECT_FALSE(h.startTimer.isEnabled());
    EXPECT_EQ(h.pollTimer.intervalMs(), 10000);
}

TEST_F(PollTest, LongDelayHoldsThePollAndShowsIt)
{
    ASSERT_TRUE(h.scheduler.Start(60));
    EXPECT_EQ(h.scheduler.caption(), "Operazioni previste (momentaneamente sospese per 60 sec.)");
    EXPECT_EQ(h.view.captions.back(), h.scheduler.caption());
    EXPECT_FALSE(h.pollTimer.isEnabled());
    EXPECT_EQ(h.startTimer.intervalMs(), 60000);
    h.runFor(59);
    EXPECT_EQ(h.scheduler.caption(), "Operazioni previste (momentaneamente sospese per 60 sec.)");
    h.runFor(1);
    EXPECT_EQ(h.scheduler.caption(), "Operazioni previste");
    EXPECT_EQ(h.yield.count, 1);
    EXPECT_TRUE(h.pollTimer.isEnabled());
    EXPECT_FALSE(h.startTimer.isEnabled());
}

TEST_F(PollTest, FractionalDelayUsesTheDecimalComma)
{
    ASSERT_TRUE(h.scheduler.Start(12.5f));
    EXPECT_EQ(h.scheduler.caption(), "Operazioni previste (momentaneamente sospese per 12,5 sec.)");
    EXPECT_EQ(h.startTimer.intervalMs(), 12500);
}

TEST_F(PollTest, FirstPollAfterTheDelayRaisesDueOperations)
{
    writeStore({op("Estrazione ed Elaborazione.", {2026, 3, 25, 6, 30, 0}, "Ogni giorno")});
    ASSERT_TRUE(h.scheduler.Start(60)); // 06:29:00
    h.runFor(69);
    EXPECT_TRUE(alarms.empty());
    h.runFor(1); // 06:30:10, the first poll
    EXPECT_EQ(alarms, std::vector<std::string>{"Estrazione ed Elaborazione."});
    const clsOperazione& o = *h.state.colOperazioni[0];
    EXPECT_TRUE(o.Abilitato());
    EXPECT_EQ(o.ProssimoAppuntamento(), (DateTime{2026, 3, 26, 6, 30, 0}));
    EXPECT_NE(store().find("<data>26/03/2026</data>"), std::string::npos);
    h.runFor(600);
    EXPECT_EQ(alarms.size(), 1u);
}

TEST_F(PollTest, ThreeDueOperationsRaiseInOrderInOnePoll)
{
    writeStore({op("uno", {2026, 3, 25, 6, 0, 0}, "Ogni giorno"), op("due", {2026, 3, 20, 6, 0, 0}, "Una volta sola"),
                op("spento", {2026, 3, 20, 6, 0, 0}, "Una volta sola", false),
                op("tre", {2026, 3, 25, 6, 29, 0}, "Ogni 6 ore")});
    ASSERT_TRUE(h.scheduler.Start(0));
    // Loading moved the periodic ones into the future; make all three due again.
    h.state.colOperazioni[0]->setProssimoAppuntamento({2026, 3, 25, 6, 0, 0});
    h.state.colOperazioni[3]->setProssimoAppuntamento({2026, 3, 25, 6, 29, 0});
    h.runFor(10);
    EXPECT_EQ(alarms, (std::vector<std::string>{"uno", "due", "tre"}));
}

TEST_F(PollTest, OnceOnlyIsSavedDisabledAndNotRaisedAgain)
{
    writeStore({op("Elaborazione dati.", {2026, 3, 25, 6, 0, 0}, "Una volta sola")});
    ASSERT_TRUE(h.scheduler.Start(0));
    h.runFor(10);
    EXPECT_EQ(alarms, std::vector<std::string>{"Elaborazione dati."});
    EXPECT_NE(store().find("<abilitato>0</abilitato>"), std::string::npos);
    EXPECT_EQ(h.view.rows.at(0).abilitato, "Falso");
    h.runFor(300);
    EXPECT_EQ(alarms.size(), 1u);
    EXPECT_EQ(h.state.colOperazioni.size(), 1u);
}

TEST_F(PollTest, AnOperationIsSpentInTheStoreWhenItsRunStartsAndRaisedOnce)
{
    writeStore({op("uno", {2026, 3, 25, 6, 0, 0}, "Una volta sola"), op("due", {2026, 3, 25, 6, 29, 0}, "Ogni giorno"),
                op("tre", {2026, 3, 25, 6, 0, 0}, "Una volta sola")});
    ASSERT_TRUE(h.scheduler.Start(0));
    std::vector<std::string> before, atStart;
    h.scheduler.setAlarmHandler([&](const std::string& a) {
        alarms.push_back(a);
        before.push_back(store());
        h.scheduler.alarmRunStarted(); // the run had to wait for its folder, and starts now
        atStart.push_back(store());
    });
    h.runFor(10);
    ASSERT_EQ(alarms, (std::vector<std::string>{"uno", "due", "tre"}));
    const auto enabled = [](const std::string& text, const std::string& azione) {
        const auto at = text.find("<azione>" + azione + "</azione>");
        return text.substr(text.find("<abilitato>", at), 14) == "<abilitato>1</";
    };
    // Before its run starts the raised operation is still due in the store; once it starts,
    // a once-only one is spent and a daily one is on its next day; those not yet raised stay due.
    EXPECT_TRUE(enabled(before[0], "uno"));
    EXPECT_FALSE(enabled(atStart[0], "uno"));
    EXPECT_TRUE(enabled(atStart[0], "tre"));
    EXPECT_TRUE(enabled(atStart[1], "due"));
    EXPECT_NE(atStart[1].find("<data>26/03/2026</data>"), std::string::npos) << atStart[1];
    EXPECT_FALSE(enabled(store(), "uno"));
    EXPECT_TRUE(enabled(store(), "due"));
    EXPECT_FALSE(enabled(store(), "tre"));
    // Outside an alarm it does nothing.
    const std::string now = store();
    h.scheduler.alarmRunStarted();
    EXPECT_EQ(store(), now);
}

// A run dropped before it started (it waited for its folder): a once-only operation stays due in
// the store when it fell due, for the next start, and this session raises it no more; a daily one
// goes on to its next day.
TEST_F(PollTest, AnOperationWhoseRunIsDroppedStaysDueForTheNextStartAndIsNotRaisedAgain)
{
    writeStore(
        {op("uno", {2026, 3, 25, 6, 0, 0}, "Una volta sola"), op("due", {2026, 3, 25, 6, 29, 0}, "Ogni giorno")});
    ASSERT_TRUE(h.scheduler.Start(0));
    h.scheduler.setAlarmHandler([&](const std::string& a) {
        alarms.push_back(a);
        h.scheduler.alarmRunDropped();
    });
    h.runFor(10);
    ASSERT_EQ(alarms, (std::vector<std::string>{"uno", "due"}));
    const auto entry = [&](const std::string& azione) {
        const std::string text = store();
        const auto at = text.find("<azione>" + azione + "</azione>");
        return text.substr(at, text.find("</operazione>", at) - at);
    };
    EXPECT_NE(entry("uno").find("<data>25/03/2026</data>\r\n<ora>6</ora>\r\n<minuti>0</minuti>"), std::string::npos)
        << entry("uno");
    EXPECT_NE(entry("uno").find("<abilitato>1</abilitato>"), std::string::npos) << entry("uno");
    EXPECT_NE(entry("due").find("<data>26/03/2026</data>"), std::string::npos) << entry("due");
    EXPECT_NE(entry("due").find("<abilitato>1</abilitato>"), std::string::npos) << entry("due");
    h.runFor(300);
    EXPECT_EQ(alarms.size(), 2u);

    // The next start raises it as a missed one.
    test::Harness next{{2026, 3, 25, 7, 0, 0}};
    next.scheduler.SetPath(env.home().string());
    std::vector<std::string> raised;
    next.scheduler.setAlarmHandler([&](const std::string& a) { raised.push_back(a); });
    ASSERT_TRUE(next.scheduler.Start(0));
    next.runFor(10);
    EXPECT_EQ(raised, std::vector<std::string>{"uno"});
}

TEST_F(PollTest, TwiceAWeekIsNotRaisedAtEveryPoll)
{
    writeStore({op("Elaborazione dati.", {2026, 3, 20, 6, 0, 0}, "Due volte a settimana")});
    ASSERT_TRUE(h.scheduler.Start(0));
    EXPECT_EQ(h.state.colOperazioni[0]->ProssimoAppuntamento(), (DateTime{2026, 3, 27, 6, 0, 0}));
    h.runFor(3600);
    EXPECT_TRUE(alarms.empty());
}

TEST_F(PollTest, OperationRemovedInsideAlarm)
{
    writeStore({op("uno", {2026, 3, 20, 6, 0, 0}, "Una volta sola"),
                op("due", {2026, 3, 20, 6, 0, 0}, "Una volta sola"),
                op("tre", {2026, 3, 20, 6, 0, 0}, "Una volta sola")});
    ASSERT_TRUE(h.scheduler.Start(0));
    h.scheduler.setAlarmHandler([this](const std::string& a) {
        alarms.push_back(a);
        if (a == "uno") {
            // The operator removes the running operation and the next one while the run goes on.
            ASSERT_TRUE(h.scheduler.removeAt(1));
            ASSERT_TRUE(h.scheduler.removeAt(1));
        }
    });
    h.runFor(10);
    EXPECT_EQ(alarms, (std::vector<std::string>{"uno", "tre"}));
    ASSERT_EQ(h.state.colOperazioni.size(), 1u);
    EXPECT_EQ(h.state.colOperazioni[0]->azione(), "tre");
    EXPECT_EQ(store().find("<azione>uno</azione>"), std::string::npos);
    EXPECT_NE(store().find("<azione>tre</azione>"), std::string::npos);
}

TEST_F(PollTest, NestedPollInsideAlarmDoesNotRaiseTheSameOperationTwice)
{
    writeStore({op("uno", {2026, 3, 20, 6, 0, 0}, "Una volta sola")});
    ASSERT_TRUE(h.scheduler.Start(0));
    h.scheduler.setAlarmHandler([this](const std::string& a) {
        alarms.push_back(a);
        // An edit during the run re-enables the poll, and the handler lets window messages run.
        h.scheduler.beginEdit();
        h.scheduler.endEdit();
        h.runFor(30);
    });
    h.runFor(10);
    EXPECT_EQ(alarms.size(), 1u);
}

TEST_F(PollTest, AddingDuringTheStartDelayLeavesThePollOff)
{
    ASSERT_TRUE(h.scheduler.Start(60));
    h.scheduler.beginEdit();
    h.state.colOperazioni.push_back(op("uno", {2026, 3, 25, 6, 0, 0}, "Una volta sola"));
    h.scheduler.endEdit();
    EXPECT_FALSE(h.pollTimer.isEnabled());
    EXPECT_TRUE(h.startTimer.isEnabled());
    h.runFor(69);
    EXPECT_TRUE(alarms.empty());
    h.runFor(1);
    EXPECT_EQ(alarms.size(), 1u);
}

TEST_F(PollTest, RemovingWithoutSelectionChangesNothing)
{
    writeStore({op("uno", {2030, 1, 1, 0, 0, 0}, "Ogni giorno")});
    ASSERT_TRUE(h.scheduler.Start(0));
    const std::string before = store();
    EXPECT_FALSE(h.scheduler.removeAt(0));
    EXPECT_FALSE(h.scheduler.removeAt(2));
    EXPECT_EQ(store(), before);
    EXPECT_TRUE(h.pollTimer.isEnabled());
}

TEST_F(PollTest, StartAgainReloadsTheStore)
{
    ASSERT_TRUE(h.scheduler.Start(0));
    writeStore({op("uno", {2030, 1, 1, 0, 0, 0}, "Ogni giorno"), op("due", {2030, 1, 1, 0, 0, 0}, "Ogni giorno")});
    ASSERT_TRUE(h.scheduler.Start(0));
    EXPECT_EQ(h.state.colOperazioni.size(), 2u);
    EXPECT_EQ(h.view.rows.size(), 2u);
}

TEST_F(PollTest, PollInTheDueSecondRaisesOnce)
{
    writeStore({op("Estrazione ed Elaborazione.", {2026, 3, 25, 6, 30, 0}, "Ogni giorno")});
    ASSERT_TRUE(h.scheduler.Start(0)); // 06:29:00: polls at 06:29:10 … 06:30:00 exactly
    h.runFor(59);
    EXPECT_TRUE(alarms.empty());
    h.runFor(1);
    ASSERT_EQ(h.clock.now(), (DateTime{2026, 3, 25, 6, 30, 0}));
    EXPECT_EQ(alarms.size(), 1u);
    EXPECT_EQ(h.state.colOperazioni[0]->ProssimoAppuntamento(), (DateTime{2026, 3, 26, 6, 30, 0}));
    EXPECT_NE(store().find("<data>26/03/2026</data>"), std::string::npos);
    h.runFor(3600); // the next polls of that occurrence
    EXPECT_EQ(alarms.size(), 1u);
}

namespace {

/// A wall clock that follows Italian civil time from a count of UTC seconds: one hour ahead
/// of UTC, two from the last Sunday of March to the last Sunday of October (01:00 UTC).
class ItalianWallClock : public zs::time::Clock {
  public:
    explicit ItalianWallClock(DateTime utc)
        : m_utc(utc.civilSeconds())
    {}
    DateTime now() const override { return DateTime::fromCivilSeconds(m_utc + offsetSeconds()); }
    std::int64_t tickMs() const override { return m_tick; }
    void advanceSeconds(int s)
    {
        m_utc += s;
        m_tick += 1000LL * s;
    }

  private:
    static std::int64_t changeAt(int year, int month) // last Sunday of the month, 01:00 UTC
    {
        DateTime d{year, month, 31, 1, 0, 0};
        while (d.weekday() != 1)
            d = d.addDays(-1);
        return d.civilSeconds();
    }
    std::int64_t offsetSeconds() const
    {
        const int year = DateTime::fromCivilSeconds(m_utc).year;
        const bool summer = m_utc >= changeAt(year, 3) && m_utc < changeAt(year, 10);
        return summer ? 7200 : 3600;
    }
    std::int64_t m_utc;
    std::int64_t m_tick = 0;
};

struct MonthCase {
    const char* name;
    DateTime startUtc;
    DateTime firstOccurrence; // local
};

} // namespace

// A month of 10-second polls across each clock change: a daily operation falls due once a day,
// also on the day its hour is skipped (02:30 in spring) or lived twice (02:30 in autumn).
TEST(PollMonth, DailyOperationRaisesOnceADayAcrossClockChanges)
{
    const MonthCase cases[] = {
        {"spring, hour skipped", {2026, 3, 14, 22, 0, 0}, {2026, 3, 15, 2, 30, 0}},
        {"spring, ordinary hour", {2026, 3, 14, 22, 0, 0}, {2026, 3, 15, 6, 30, 0}},
        {"autumn, hour lived twice", {2026, 10, 9, 22, 0, 0}, {2026, 10, 10, 2, 30, 0}},
        {"autumn, at midnight", {2026, 10, 9, 22, 0, 0}, {2026, 10, 10, 0, 0, 0}},
    };
    for (const MonthCase& c : cases) {
        SCOPED_TRACE(c.name);
        zs::test::ScopedTestEnv env;
        std::filesystem::create_directories(env.home());
        ItalianWallClock clock(c.startUtc);
        SchedulerState state;
        test::FakeTimer pollTimer(clock);
        test::FakeTimer startTimer(clock);
        test::CountingYield yield;
        Scheduler scheduler(state, clock, pollTimer, startTimer, yield);
        scheduler.SetPath(env.home().string());
        auto o = std::make_shared<clsOperazione>();
        o->setAzione("Estrazione ed Elaborazione.");
        o->setEscludi("niente");
        o->setPeriodicita("Ogni giorno");
        o->setAbilitato(true);
        o->setProssimoAppuntamento(c.firstOccurrence);
        std::string error;
        ASSERT_TRUE(saveStore(env.home() / "cadenzo.xml", {o}, &error)) << error;

        std::map<std::int64_t, int> perDay; // local date → alarms
        scheduler.setAlarmHandler([&](const std::string&) { ++perDay[clock.now().daysSinceEpoch()]; });
        ASSERT_TRUE(scheduler.Start(0));
        const int days = 31;
        for (int s = 0; s < days * 86400; ++s) {
            clock.advanceSeconds(1);
            if (pollTimer.fireDue())
                scheduler.pollTick();
        }
        EXPECT_EQ(perDay.size(), static_cast<std::size_t>(days));
        for (const auto& [day, n] : perDay)
            EXPECT_EQ(n, 1) << DateTime::fromDays(day).day << "/" << DateTime::fromDays(day).month;
    }
}

namespace {

struct MissedCase {
    const char* name;
    DateTime dated; // the stored start, long past
    const char* periodicita;
    std::vector<DateTime> alarms; // when the polls raise it over the day
};

} // namespace

// However many occurrences an operation missed, the first poll raises it once and the next
// occurrence is the first after now; then one Alarm per occurrence.
TEST(PollMissed, AnOperationDatedInThePastRaisesOnceThenOncePerOccurrence)
{
    const DateTime firstPoll{2026, 3, 25, 6, 29, 10};
    const MissedCase cases[] = {
        {"daily, year 27 (a two-digit year read literally)",
         {27, 12, 8, 6, 30, 0},
         "Ogni giorno",
         {firstPoll, {2026, 3, 25, 6, 30, 0}, {2026, 3, 26, 6, 30, 0}}},
        {"daily, four years ago", {2022, 3, 1, 7, 0, 0}, "Ogni giorno", {firstPoll, {2026, 3, 25, 7, 0, 0}}},
        {"every 6 hours, a year ago",
         {2025, 3, 1, 0, 15, 0},
         "Ogni 6 ore",
         {firstPoll,
          {2026, 3, 25, 12, 15, 0},
          {2026, 3, 25, 18, 15, 0},
          {2026, 3, 26, 0, 15, 0},
          {2026, 3, 26, 6, 15, 0}}},
        {"every 12 hours, from year 1016",
         {1016, 4, 27, 6, 29, 0},
         "Ogni 12 ore",
         {firstPoll, {2026, 3, 25, 18, 29, 0}, {2026, 3, 26, 6, 29, 0}}},
        {"monthly, year 27", {27, 12, 8, 6, 30, 0}, "Una volta al mese", {firstPoll}},
        {"weekly, far in the past", {1990, 3, 27, 6, 0, 0}, "Una volta a settimana", {firstPoll}},
    };
    for (const MissedCase& c : cases) {
        SCOPED_TRACE(c.name);
        zs::test::ScopedTestEnv env;
        std::filesystem::create_directories(env.home());
        test::Harness h{{2026, 3, 25, 6, 29, 0}};
        h.scheduler.SetPath(env.home().string());
        auto o = std::make_shared<clsOperazione>();
        o->setAzione("Estrazione ed Elaborazione.");
        o->setEscludi("niente");
        o->setPeriodicita(c.periodicita);
        o->setAbilitato(true);
        o->setProssimoAppuntamento(c.dated);
        std::string error;
        ASSERT_TRUE(saveStore(env.home() / "cadenzo.xml", {o}, &error)) << error;

        std::vector<DateTime> raised;
        h.scheduler.setAlarmHandler([&](const std::string&) { raised.push_back(h.clock.now()); });
        ASSERT_TRUE(h.scheduler.Start(0));
        h.runFor(86400 + 120); // a day of 10-second polls, and the next day's first minutes
        EXPECT_EQ(raised, c.alarms);
        const DateTime next = h.state.colOperazioni[0]->ProssimoAppuntamento();
        EXPECT_GT(next, h.clock.now());
    }
}

// A passed start typed in the dialog is due at the next poll: one Alarm, then the next day's.
TEST(PollMissed, APastStartFromTheDialogRaisesOnceAtTheNextPoll)
{
    zs::test::ScopedTestEnv env;
    std::filesystem::create_directories(env.home());
    test::Harness h{{2026, 3, 25, 14, 7, 0}};
    h.scheduler.SetPath(env.home().string());
    std::vector<DateTime> raised;
    h.scheduler.setAlarmHandler([&](const std::string&) { raised.push_back(h.clock.now()); });
    ASSERT_TRUE(h.scheduler.Start(0));
    OperazioneForm form(h.state);
    h.state.colAzioni = {"Estrazione ed Elaborazione."};
    form.abilitato = true;
    h.scheduler.beginEdit();
    form.Aggiungi(h.clock);
    form.dateText = "20/03/26";
    form.hourText = "6";
    form.minuteText = "30";
    form.periodicita = "Ogni giorno";
    ASSERT_TRUE(form.Conferma());
    h.scheduler.endEdit();
    h.runFor(86400);
    EXPECT_EQ(raised, (std::vector<DateTime>{{2026, 3, 25, 14, 7, 10}, {2026, 3, 26, 6, 30, 0}}));
}
