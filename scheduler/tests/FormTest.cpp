// The edit dialog's rules without the window: silent correction of its fields and what a
// confirmation writes.

#include "scheduler/OperationStore.h"
#include "scheduler/Operazione.h"
#include "scheduler/OperazioneForm.h"
#include "scheduler/Scheduler.h"

#include "testsupport/TestEnv.h"
#include "time/Clock.h"

#include <gtest/gtest.h>

using namespace zs::cadenzo;
using zs::time::DateTime;

TEST(Form, HourAndMinuteNormalising)
{
    struct Case {
        const char* text;
        int limit;
        int value;
        const char* shown;
    };
    const Case cases[] = {
        {"7", 23, 7, "07"},   {"07", 23, 7, "07"},  {"23", 23, 23, "23"},   {"24", 23, 0, "00"},   {"25", 23, 0, "00"},
        {"-1", 23, 0, "00"},  {"", 23, 0, "00"},    {"ab", 23, 0, "00"},    {" 9", 23, 9, "09"},   {"9x", 23, 9, "09"},
        {"6.5", 23, 6, "06"}, {"7.5", 23, 8, "08"}, {"22.6", 23, 23, "23"}, {"23.6", 23, 0, "00"}, {"59", 59, 59, "59"},
        {"60", 59, 0, "00"},  {"", 59, 0, "00"},    {"1 5", 59, 15, "15"},  {"-0.4", 59, 0, "00"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("\"") + c.text + "\" limit " + std::to_string(c.limit));
        std::string shown;
        EXPECT_EQ(normaliseTimeField(c.text, c.limit, &shown), c.value);
        EXPECT_EQ(shown, c.shown);
    }
}

TEST(Form, LongDateTextReadsBack)
{
    const DateTime d{2026, 12, 8, 0, 0, 0};
    EXPECT_EQ(formatLongDate(d), "martedì 8 dicembre 2026");
    EXPECT_EQ(parseDialogDate("martedì 8 dicembre 2026"), d);
    EXPECT_EQ(parseDialogDate("8 Dicembre 2026"), d);
    EXPECT_EQ(parseDialogDate("08/12/2026"), d);
    EXPECT_EQ(parseDialogDate("domani"), std::nullopt);
    EXPECT_EQ(parseDialogDate("31 febbraio 2026"), std::nullopt);
    EXPECT_EQ(parseDialogDate("pippo 8 dicembre 2026"), std::nullopt);
    EXPECT_EQ(parseDialogDate("8 dicembre 26"), d);
    EXPECT_EQ(parseDialogDate("lunedì 8 dicembre 2026"), std::nullopt); // 8/12/2026 is a Tuesday
    EXPECT_EQ(parseDialogDate("8 dicembre 026"), std::nullopt);
    EXPECT_EQ(parseDialogDate("8 dicembre 2026 x"), std::nullopt);
    EXPECT_EQ(parseDialogDate("08/12/2026 06:30"), std::nullopt);
}

TEST(Form, RefusedDateSuggestsFormsTheBoxAccepts)
{
    const std::string message = refusedDateMessage("8 dic");
    EXPECT_EQ(message, "La data \"8 dic\" non è valida. Scrivere la data come 08/12/2026, 8-12-26, 8.12.2026 o "
                       "martedì 8 dicembre 2026.");
    // Each suggested form, typed back into the date box, is taken as the same day.
    SchedulerState state;
    OperazioneForm form(state);
    for (const char* typed : {"08/12/2026", "8-12-26", "8.12.2026", "martedì 8 dicembre 2026"}) {
        SCOPED_TRACE(typed);
        form.setChosenDate({2020, 1, 1, 0, 0, 0});
        form.dateText = typed;
        EXPECT_TRUE(form.applyDateText());
        EXPECT_EQ(form.chosenDate(), (DateTime{2026, 12, 8, 0, 0, 0}));
    }
}

TEST(Form, ExclusionChoicesStartOnMonday)
{
    EXPECT_EQ(exclusionChoices(), (std::vector<std::string>{"niente", "lunedì", "martedì", "mercoledì", "giovedì",
                                                            "venerdì", "sabato", "domenica"}));
}

class FormFlow : public ::testing::Test {
  protected:
    SchedulerState state;
    zs::time::FakeClock clock{{2026, 3, 25, 14, 7, 33}};
    OperazioneForm form{state};
    void SetUp() override { state.colAzioni = {"Estrazione ed Elaborazione.", "Elaborazione dati."}; }
};

TEST_F(FormFlow, AddFillsTodayAndNowAndAppendsOnConfirm)
{
    form.abilitato = true;
    form.Aggiungi(clock);
    EXPECT_EQ(form.position(), 0);
    EXPECT_EQ(form.azioneIndex, 0);
    EXPECT_EQ(form.dateText, "mercoledì 25 marzo 2026");
    EXPECT_EQ(form.hourText, "14");
    EXPECT_EQ(form.minuteText, "07");
    EXPECT_EQ(form.periodicita, "Una volta sola");
    EXPECT_EQ(form.escludi, "niente");
    EXPECT_TRUE(form.abilitato); // kept from the previous use

    form.azioneIndex = 1;
    form.hourText = "25";
    form.minuteText = "5";
    form.periodicita = "Ogni giorno";
    ASSERT_TRUE(form.Conferma());
    ASSERT_EQ(state.colOperazioni.size(), 1u);
    const clsOperazione& op = *state.colOperazioni[0];
    EXPECT_EQ(op.azione(), "Elaborazione dati.");
    EXPECT_EQ(op.ProssimoAppuntamento(), (DateTime{2026, 3, 25, 0, 5, 0})); // in the past: due at the next poll
    EXPECT_EQ(op.Ora(), 0);
    EXPECT_EQ(op.Minuti(), 5);
    EXPECT_TRUE(op.Abilitato());
}

TEST_F(FormFlow, ModifyShowsTheNextOccurrenceAndKeepsADateThatDoesNotRead)
{
    auto existing = std::make_shared<clsOperazione>();
    existing->setAzione("Elaborazione dati.");
    existing->setData({2026, 3, 18, 0, 0, 0});
    existing->setOra(6);
    existing->setMinuti(30);
    existing->setPeriodicita("Ogni giorno");
    existing->setEscludi("domenica");
    existing->setAbilitato(true);
    existing->CalcolaProssimoAppuntamento(clock);
    state.colOperazioni.push_back(existing);

    ASSERT_TRUE(form.Modifica(1));
    EXPECT_EQ(form.dateText, "giovedì 26 marzo 2026");
    EXPECT_EQ(form.hourText, "06");
    EXPECT_EQ(form.minuteText, "30");
    EXPECT_EQ(form.azioneIndex, 1);
    EXPECT_EQ(form.escludi, "domenica");
    EXPECT_TRUE(form.abilitato);

    // A text that is no date is refused with a message, and the operation stays as it was.
    form.dateText = "non una data";
    form.hourText = "9";
    std::string refusal;
    EXPECT_FALSE(form.Conferma(&refusal));
    EXPECT_EQ(refusal, refusedDateMessage("non una data"));
    EXPECT_EQ(form.dateText, "non una data");
    ASSERT_EQ(state.colOperazioni.size(), 1u);
    EXPECT_EQ(existing->Data(), (DateTime{2026, 3, 18, 0, 0, 0}));
    EXPECT_EQ(existing->Ora(), 6);
    EXPECT_EQ(existing->ProssimoAppuntamento(), (DateTime{2026, 3, 26, 6, 30, 0}));

    // Confirming again once the box holds a date applies it.
    form.dateText = "26/03/26";
    ASSERT_TRUE(form.Conferma());
    EXPECT_EQ(existing->Data(), (DateTime{2026, 3, 26, 0, 0, 0}));
    EXPECT_EQ(existing->ProssimoAppuntamento(), (DateTime{2026, 3, 26, 9, 30, 0}));
    EXPECT_FALSE(form.Modifica(2));
}

TEST_F(FormFlow, AddWithoutActionNamesLeavesTheActionEmpty)
{
    state.colAzioni.clear();
    form.Aggiungi(clock);
    EXPECT_EQ(form.azioneIndex, -1);
    ASSERT_TRUE(form.Conferma());
    ASSERT_EQ(state.colOperazioni.size(), 1u);
    EXPECT_EQ(state.colOperazioni[0]->azione(), "");
}

TEST_F(FormFlow, ModifyOffersValuesTheListsLackAndConfirmKeepsThem)
{
    auto existing = std::make_shared<clsOperazione>();
    existing->setAzione("Extraction");
    existing->setData({2026, 4, 1, 0, 0, 0});
    existing->setOra(6);
    existing->setPeriodicita("Every day");
    existing->setEscludi("Sunday");
    existing->setAbilitato(true);
    existing->CalcolaProssimoAppuntamento(clock);
    state.colOperazioni.push_back(existing);

    ASSERT_TRUE(form.Modifica(1));
    EXPECT_EQ(form.azioni,
              (std::vector<std::string>{"Estrazione ed Elaborazione.", "Elaborazione dati.", "Extraction"}));
    EXPECT_EQ(form.azioneIndex, 2);
    EXPECT_EQ(form.periodicitaChoices.size(), 8u);
    EXPECT_EQ(form.periodicitaChoices.back(), "Every day");
    EXPECT_EQ(form.escludiChoices.back(), "Sunday");
    ASSERT_TRUE(form.Conferma());
    EXPECT_EQ(existing->azione(), "Extraction");
    EXPECT_EQ(existing->Periodicita(), "Every day");
    EXPECT_EQ(existing->Escludi(), "Sunday");
    EXPECT_EQ(state.colAzioni.size(), 2u); // the registered names are not changed

    // A known value adds nothing; a new operation gets the plain lists.
    existing->setPeriodicita("Ogni giorno");
    ASSERT_TRUE(form.Modifica(1));
    EXPECT_EQ(form.periodicitaChoices.size(), 7u);
    form.Aggiungi(clock);
    EXPECT_EQ(form.azioni.size(), 2u);
    EXPECT_EQ(form.escludiChoices.size(), 8u);
}

// The first occurrence is worked out one way: confirming, the list and a reload of the store
// agree; a weekly operation on its own excluded weekday could never fall due and is refused.
TEST_F(FormFlow, AnExcludedWeekdayIsSkippedAlikeOnConfirmAndAfterAReload)
{
    zs::test::ScopedTestEnv env;
    std::filesystem::create_directories(env.home());
    form.Aggiungi(clock);
    form.dateText = "12/04/2026"; // a Sunday
    form.hourText = "06";
    form.minuteText = "30";
    form.escludi = "domenica";
    form.periodicita = "Ogni giorno";
    ASSERT_TRUE(form.Conferma());
    ASSERT_EQ(state.colOperazioni.size(), 1u);
    const DateTime monday{2026, 4, 13, 6, 30, 0};
    EXPECT_EQ(state.colOperazioni[0]->ProssimoAppuntamento(), monday);
    EXPECT_EQ(rowFor(*state.colOperazioni[0]).prossimo, "13/04/2026 06:30");

    std::string error;
    ASSERT_TRUE(saveStore(env.home() / "cadenzo.xml", state.colOperazioni, &error)) << error;
    OperationList reloaded;
    ASSERT_TRUE(loadStore(env.home() / "cadenzo.xml", clock, reloaded).ok);
    ASSERT_EQ(reloaded.size(), 1u);
    EXPECT_EQ(reloaded[0]->ProssimoAppuntamento(), monday);

    // Weekly from a Sunday with Sunday excluded: refused, the collection unchanged.
    form.Aggiungi(clock);
    form.dateText = "domenica 12 aprile 2026";
    form.escludi = "domenica";
    form.periodicita = "Una volta a settimana";
    std::string refusal;
    EXPECT_FALSE(form.Conferma(&refusal));
    EXPECT_EQ(refusal, neverDueMessage("domenica"));
    EXPECT_EQ(state.colOperazioni.size(), 1u);
    // The same from a Monday is fine, and so is once only on the excluded day (no step to take).
    form.dateText = "13/04/2026";
    ASSERT_TRUE(form.Conferma());
    EXPECT_EQ(state.colOperazioni.back()->ProssimoAppuntamento(), (DateTime{2026, 4, 13, 14, 7, 0}));
    form.Aggiungi(clock);
    form.dateText = "12/04/2026";
    form.escludi = "domenica";
    form.periodicita = "Una volta sola";
    ASSERT_TRUE(form.Conferma());
    EXPECT_EQ(state.colOperazioni.size(), 3u);
}
