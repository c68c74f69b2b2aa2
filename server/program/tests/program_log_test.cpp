#include "program/ProgramLog.h"

#include "testsupport/TestEnv.h"
#include "time/Clock.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace zs::program;
using namespace std::string_literals;

namespace {

struct LogFixture : ::testing::Test {
    zs::test::TempDir dir;
    zs::time::FakeClock clock{{2006, 6, 15, 9, 5, 7}};
    DayLog day{dir.path(), clock};
    ProgramLog log{day};
};

} // namespace

TEST_F(LogFixture, DayLogBytes)
{
    log.OutputResponse("Inizio estrazione", false, 0);
    log.OutputResponse("Passo è fallito", true, 1);
    clock.advanceSeconds(1);
    log.OutputResponse("Fine", false, 0);
    const std::string want = "\r\n15/06/2006 09:05:07   :Inizio estrazione\r\n"
                             "15/06/2006 09:05:07   :ERRORE  Passo \xE8 fallito\r\n"
                             "\r\n15/06/2006 09:05:08   :Fine\r\n";
    EXPECT_EQ(zs::test::readFile(dir / "log/060615.log"), want);

    // a new file for a new day
    clock.set({2006, 6, 16, 0, 0, 1});
    log.WriteInLog("dopo mezzanotte", false, false);
    EXPECT_EQ(zs::test::readFile(dir / "log/060616.log"), "16/06/2006 00:00:01   :dopo mezzanotte\r\n");
}

TEST_F(LogFixture, ErrorDetailMarksItsParent)
{
    const auto top = log.OutputResponse("Passo", false, 0);
    const auto ok = log.OutputResponse("dettaglio", false, 1);
    EXPECT_EQ(log.node(top)->colour, kLogBlue);
    EXPECT_EQ(log.node(ok)->image, LogImage::Line);
    EXPECT_EQ(log.node(ok)->parent, top);

    const auto bad = log.OutputResponse("errore", true, 1);
    EXPECT_EQ(log.node(bad)->colour, kLogRed);
    EXPECT_EQ(log.node(bad)->image, LogImage::Error);
    EXPECT_EQ(log.node(top)->colour, kLogRed);
    EXPECT_EQ(log.node(top)->image, LogImage::Error);
    EXPECT_TRUE(log.node(top)->expanded);

    // a later ordinary detail leaves the parent red
    log.OutputResponse("altro", false, 1);
    EXPECT_EQ(log.node(top)->colour, kLogRed);

    // level 2 errors do not mark the parent, but expand it
    const auto top2 = log.OutputResponse("Passo 2", false, 0);
    log.OutputResponse("errore profondo", true, 2);
    EXPECT_EQ(log.node(top2)->colour, kLogBlue);
    EXPECT_TRUE(log.node(top2)->expanded);

    // an error top-level line leaves the previous one alone
    const auto top3 = log.OutputResponse("Passo 3", true, 0);
    EXPECT_EQ(log.node(top3)->image, LogImage::Error);
    EXPECT_EQ(log.node(top2)->colour, kLogBlue);
}

TEST_F(LogFixture, InitializeForgetsTheParent)
{
    log.OutputResponse("Passo", false, 0);
    log.InitializeResponse();
    EXPECT_TRUE(log.nodes().empty());
    EXPECT_FALSE(log.currentParent());
    // a detail line with no parent becomes a top-level line and still reaches the file
    const auto id = log.OutputResponse("orfano", false, 1);
    EXPECT_FALSE(log.node(id)->parent);
    EXPECT_NE(zs::test::readFile(dir / "log/060615.log").find("orfano"), std::string::npos);
    log.setImage(id, LogImage::Success);
    EXPECT_EQ(log.node(id)->image, LogImage::Success);
}

TEST_F(LogFixture, ChildEqualToParentGetsABlankLine)
{
    log.OutputResponse("uguale", false, 0);
    log.OutputResponse("uguale", false, 1);
    EXPECT_EQ(zs::test::readFile(dir / "log/060615.log"),
              "\r\n15/06/2006 09:05:07   :uguale\r\n\r\n15/06/2006 09:05:07   :uguale\r\n");
}

TEST_F(LogFixture, WriteFailureIsReportedOnceAndNeverThrows)
{
    zs::test::writeFile(dir / "log", "a file where the folder should be");
    int reported = 0;
    day.onError = [&](const std::string&) { ++reported; };
    const auto id = log.OutputResponse("riga", true, 0);
    log.OutputResponse("riga 2", false, 1);
    EXPECT_EQ(reported, 1);
    EXPECT_EQ(log.nodes().size(), 2u);
    EXPECT_NE(log.node(id), nullptr);
}

TEST(LogEntry, ATextFromOutsideBecomesOneCleanLine)
{
    struct Case {
        const char* name;
        std::string in, out;
    } cases[] = {
        {"plain text unchanged", "Errore nel passo", "Errore nel passo"},
        {"tab kept", "a\tb", "a\tb"},
        {"a multi-line reply joined, every line's words kept",
         "550-5.1.1 <x@example.it> unknown\r\n550-5.1.1 try again\r\n550 5.1.1 later\r\n",
         "550-5.1.1 <x@example.it> unknown 550-5.1.1 try again 550 5.1.1 later"},
        {"lone LF and lone CR are line ends too", "uno\ndue\rtre", "uno due tre"},
        {"blank lines are one break", "uno\r\n\r\n\r\ndue", "uno due"},
        {"blanks at the break are one", "uno \r\n due", "uno due"},
        {"a continuation's indent is the one blank", "uno\r\n\t  due", "uno due"},
        {"leading and trailing line ends go", "\r\nuno\r\n", "uno"},
        {"NUL, BEL, ESC and DEL shown",
         "a\0b\x07"
         "c\x1b[2J\x7f"s,
         "a\\x00b\\x07c\\x1b[2J\\x7f"},
        {"a title sequence", "\x1b]0;titolo\x07", "\\x1b]0;titolo\\x07"},
        {"other C0 bytes", "\x01\x08\x0b\x0c\x1f", "\\x01\\x08\\x0b\\x0c\\x1f"},
        {"8-bit text untouched", "Passo \xC3\xA8 fallito", "Passo \xC3\xA8 fallito"},
        {"Windows-1252 punctuation read in the code page",
         "\x80uro \x93"
         "citazione\x94 \x85 \x9b",
         "\u20acuro \u201c"
         "citazione\u201d \u2026 \u203a"},
        {"UTF-8 and Windows-1252 bytes in one text", "citt\xC3\xA0: \x80 5", "citt\xC3\xA0: \u20ac 5"},
        {"the unassigned bytes shown", "a\x81\x8d\x8f\x90\x9d", "a\\x81\\x8d\\x8f\\x90\\x9d"},
        {"C1 controls written in UTF-8 shown", "\xC2\x9b[31m\xC2\x85", "\\x9b[31m\\x85"},
        {"a cut UTF-8 sequence read byte by byte", "\xE2\x82", "\u00e2\u201a"},
        {"an encoded surrogate read byte by byte", "\xED\xA0\x80", "\u00ed\u00a0\u20ac"},
        {"empty", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(logEntry(c.in), c.out);
    }
}

TEST_F(LogFixture, EveryLineOfTheDayLogAndEveryNodeIsOneCleanEntry)
{
    const std::string reply = "550-5.1.1 primo\r\n550 5.1.1 secondo\0\x1b[31m\x07\r\n"s;
    const auto top = log.OutputResponse("Invio\r\nordini", false, 0);
    const auto detail = log.OutputResponse("Errore nell'invio email-" + reply, true, 1);
    log.WriteInLog("Body Email: riga 1\r\nriga 2\r\n", false, false);
    log.OutputAside("fuori\nrun", true);
    EXPECT_EQ(log.node(top)->text, "Invio ordini");
    EXPECT_EQ(log.node(detail)->text, "Errore nell'invio email-550-5.1.1 primo 550 5.1.1 secondo\\x00\\x1b[31m\\x07");
    const std::string want = "\r\n15/06/2006 09:05:07   :Invio ordini\r\n"
                             "15/06/2006 09:05:07   :ERRORE  Errore nell'invio email-550-5.1.1 primo 550 5.1.1 "
                             "secondo\\x00\\x1b[31m\\x07\r\n"
                             "15/06/2006 09:05:07   :Body Email: riga 1 riga 2\r\n"
                             "\r\n15/06/2006 09:05:07   :ERRORE  fuori run\r\n";
    EXPECT_EQ(zs::test::readFile(dir / "log/060615.log"), want);
}

TEST_F(LogFixture, APeersWindows1252TextIsReadableInTheTreeAndTheDayLog)
{
    const auto id = log.OutputResponse("Errore: \x80uro \x93"
                                       "citazione\x94 \x85 \x9b\x81 citt\xC3\xA0",
                                       true, 0);
    EXPECT_EQ(log.node(id)->text, "Errore: \u20acuro \u201c"
                                  "citazione\u201d \u2026 \u203a\\x81 citt\xC3\xA0");
    // The day log is Windows-1252: the same bytes come back, the unassigned one shown.
    EXPECT_EQ(zs::test::readFile(dir / "log/060615.log"), "\r\n15/06/2006 09:05:07   :ERRORE  Errore: \x80uro \x93"
                                                          "citazione\x94 \x85 \x9b\\x81 citt\xE0\r\n");
}
