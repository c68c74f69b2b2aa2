// The extraction run's control flow over a recording database: which steps run, in what
// order the connection, emptying, counter and jobs go, the watermark, the special steps, and
// how stops, pauses and failures end the run.

#include "EngineTestSupport.h"

#include "engine/EngineHost.h"
#include "engine/ExtractionRun.h"
#include "engine/StepTree.h"
#include "program/testsupport/ShellDoubles.h"
#include "xml/XmlDocument.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace zs::engine::test {
namespace {

class RecordingHost : public EngineHost {
  public:
    void UpdateProgressBar(int step) override { progress.push_back(step); }
    void BusAndTask(const std::string& task, const std::string& parameters, bool& ok) override
    {
        calls.push_back("bus:" + task + "|" + parameters);
        ok = busOk;
    }
    bool CompattaDatabase(const std::string& file) override
    {
        calls.push_back("compact:" + file);
        return compactOk;
    }
    void Elaborazione(bool& ok) override
    {
        calls.push_back("cubes");
        ok = true;
    }
    bool ImportXmlStep(const xml::Element&) override { return calls.push_back("importxml"), true; }
    bool MailOrdersStep(const xml::Element&) override { return calls.push_back("mail"), false; }
    bool ExecuteDtsStep(const xml::Element&) override { return calls.push_back("dts"), true; }
    std::vector<std::string> calls;
    std::vector<int> progress;
    bool compactOk = true;
    bool busOk = true;
};

struct RunFx {
    explicit RunFx(std::string tipo, const std::string& body)
        : f(std::move(tipo))
    {
        auto d = xml::Document::loadString("<Estrattore>" + body + "</Estrattore>");
        EXPECT_TRUE(d);
        doc = std::move(*d);
        CaricaAlberoXML(tree, doc.root());
    }
    bool go()
    {
        ExtractionRun run(f.ctx, host, f.env.home(), messages);
        return run.EseguiEstrazione(tree, doc.root());
    }
    /// The database calls without the step lines' bookkeeping.
    std::vector<std::string> dbCalls() const { return f.db.calls; }
    EngineFixture f;
    RecordingHost host;
    zs::test::RecordingMessages messages;
    xml::Document doc;
    StepTree tree;
};

struct RunCase {
    const char* name;
    const char* tipo;
    const char* body;
    std::function<void(RunFx&)> setup;
    bool expected;
    std::vector<std::string> calls; ///< the database calls, in order
    std::function<void(RunFx&)> check;
};

const char* kTwoSteps = "<CLIENTI><operazione>Clienti</operazione><svuota>si</svuota><contatore>ID</contatore>"
                        "<azzeracontatore>si</azzeracontatore><query>insert into CLIENTI select 1</query></CLIENTI>"
                        "<ORDINI><operazione>Ordini</operazione><query>q1</query><query>q2</query><query>q3</query>"
                        "</ORDINI>";

TEST(ExtractionRun, EdgeCases)
{
    const std::vector<RunCase> cases = {
        {"empty loading XML: nothing opened, false, stat.xml written",
         "access",
         "",
         nullptr,
         false,
         {},
         [](RunFx& r) { EXPECT_TRUE(std::filesystem::exists(r.f.env.home() / "stat.xml")); }},
        {"two steps in order",
         "access",
         kTwoSteps,
         nullptr,
         true,
         {"open", "step:Clienti", "exec:delete from CLIENTI ",
          "exec:ALTER TABLE CLIENTI ALTER COLUMN ID COUNTER (1, 1)", "exec:insert into CLIENTI select 1", "close",
          "success", "open", "step:Ordini", "exec:q1", "exec:q2", "exec:q3", "close", "success"},
         [](RunFx& r) {
             EXPECT_EQ(r.host.progress, (std::vector<int>{1, 2}));
             const auto stat = zs::test::readFile(r.f.env.home() / "stat.xml");
             EXPECT_NE(stat.find("<operazione>Ordini</operazione>"), std::string::npos);
             EXPECT_NE(r.f.logTexts().back().find("Aggiornamento statistiche di estrazione"), std::string::npos);
         }},
        {"unticked and unknown steps are skipped",
         "access",
         kTwoSteps,
         [](RunFx& r) { r.tree.steps()[0].text = "Altro"; },
         true,
         {"open", "step:Ordini", "exec:q1", "exec:q2", "exec:q3", "close", "success"},
         nullptr},
        {"unticked job is not run",
         "access",
         kTwoSteps,
         [](RunFx& r) { r.tree.steps()[1].children[1].image = 2; },
         true,
         {"open", "step:Clienti", "exec:delete from CLIENTI ",
          "exec:ALTER TABLE CLIENTI ALTER COLUMN ID COUNTER (1, 1)", "exec:insert into CLIENTI select 1", "close",
          "success", "open", "step:Ordini", "exec:q1", "exec:q3", "close", "success"},
         nullptr},
        {"second job fails: third not run, no success line, run ends",
         "access",
         "<ORDINI><operazione>Ordini</operazione><query>q1</query><query>bad</query><query>q3</query></ORDINI>"
         "<ALTRO><operazione>Altro</operazione><query>x</query></ALTRO>",
         [](RunFx& r) { r.f.db.rules.push_back({"bad"}); },
         false,
         {"open", "step:Ordini", "exec:q1", "exec:bad", "close", "nosuccess"},
         nullptr},
        {"sql server truncates and reseeds",
         "sqlserver",
         kTwoSteps,
         nullptr,
         true,
         {"open", "step:Clienti", "exec:Truncate Table CLIENTI", "exec:EXEC ('DBCC CHECKIDENT (CLIENTI,RESEED,1)')",
          "exec:insert into CLIENTI select 1", "close", "success", "open", "step:Ordini", "exec:q1", "exec:q2",
          "exec:q3", "close", "success"},
         nullptr},
        {"counter before emptying resets nothing",
         "access",
         "<T1><operazione>T1</operazione><azzeracontatore>si</azzeracontatore><svuota>si</svuota></T1>",
         nullptr,
         true,
         {"open", "step:T1", "exec:delete from T1 ", "close", "success"},
         nullptr},
        {"oracle keeps TIME and ZONE bare",
         "oracle",
         "<TIME><operazione>Tempo</operazione><svuota>si</svuota><query>2005</query></TIME>"
         "<zone><operazione>Zone</operazione><svuota>si</svuota><query>insert into ZONE select 1</query></zone>",
         nullptr,
         true,
         {"open", "step:Tempo", "exec:delete from TIME ", "rows:Time", "close", "success", "open", "step:Zone",
          "exec:delete from ZONE ", "exec:insert into ZONE select 1", "close", "success"},
         [](RunFx& r) { EXPECT_EQ(r.f.db.rows.size(), 365u); }},
        {"access brackets TIME",
         "access",
         "<time><operazione>Tempo</operazione><svuota>si</svuota><query>2005</query></time>",
         nullptr,
         true,
         {"open", "step:Tempo", "exec:delete from [TIME] ", "rows:[Time]", "close", "success"},
         nullptr},
        {"failed emptying: calendar not written, step fails",
         "access",
         "<TIME><operazione>Tempo</operazione><svuota>si</svuota><query>2005</query></TIME>",
         [](RunFx& r) { r.f.db.rules.push_back({"delete"}); },
         false,
         {"open", "step:Tempo", "exec:delete from [TIME] ", "close", "nosuccess"},
         [](RunFx& r) { EXPECT_TRUE(r.f.db.rows.empty()); }},
        {"text watermark quoted (quotes doubled), attivo in capitals",
         "sqlserver",
         "<ORDINI><operazione>Ordini</operazione><svuota>si</svuota><contatore>ID</contatore>"
         "<azzeracontatore>si</azzeracontatore><incrementale attivo=\"SI\" svuota=\"data\" datatype=\"Numerico\">"
         "O'Brien12</incrementale><query>insert into ORDINI select * from S where x &gt; [incrementale]</query>"
         "</ORDINI>",
         nullptr,
         true,
         {"open", "step:Ordini", "exec:delete from ORDINI where data > 'O''Brien12'",
          "exec:EXEC ('DBCC CHECKIDENT (ORDINI,RESEED,0)')",
          "exec:insert into ORDINI select * from S where x > 'O''Brien12'", "close", "success"},
         nullptr},
        {"numeric watermark loses its leading zeros",
         "access",
         "<ORDINI><operazione>Ordini</operazione><incrementale attivo=\"si\" datatype=\"numerico\">00042</incrementale>"
         "<query>insert into O select * from S where id &gt; [incrementale] and [INCREMENTALE]=1</query></ORDINI>",
         nullptr,
         true,
         {"open", "step:Ordini", "exec:insert into O select * from S where id > 42 and [INCREMENTALE]=1", "close",
          "success"},
         nullptr},
        {"numeric watermark that is not a number fails the step",
         "access",
         "<ORDINI><operazione>Ordini</operazione><incrementale attivo=\"si\" datatype=\"numerico\">4x</incrementale>"
         "<query>q [incrementale]</query></ORDINI>",
         nullptr,
         false,
         {"open", "step:Ordini", "close", "nosuccess"},
         nullptr},
        {"watermark written back after success",
         "access",
         "<ORDINI><operazione>Ordini</operazione><incrementale attivo=\"si\" datatype=\"numerico\" autoupdate=\"si\" "
         "riempi=\"ORDINI.id\">7</incrementale><query>q [incrementale]</query></ORDINI>",
         [](RunFx& r) { r.f.db.maxValue = std::int64_t{19}; },
         true,
         {"open", "step:Ordini", "exec:q 7", "query:select max( ORDINI.id) from ORDINI", "close", "success"},
         [](RunFx& r) { EXPECT_EQ(r.doc.root().firstChild().child("incrementale").text(), "19"); }},
        {"date maximum written back in a form SQL reads",
         "access",
         "<ORDINI><operazione>Ordini</operazione><incrementale attivo=\"si\" autoupdate=\"si\" "
         "riempi=\"ORDINI.data\">2004-01-01</incrementale><query>q</query></ORDINI>",
         [](RunFx& r) { r.f.db.maxValue = time::DateTime{2005, 3, 4, 10, 5, 6}; },
         true,
         {"open", "step:Ordini", "exec:q", "query:select max( ORDINI.data) from ORDINI", "close", "success"},
         [](RunFx& r) { EXPECT_EQ(r.doc.root().firstChild().child("incrementale").text(), "2005-03-04 10:05:06"); }},
        {"no write-back after a failed step, nor of a null maximum",
         "access",
         "<A><operazione>A</operazione><incrementale attivo=\"si\" autoupdate=\"si\" riempi=\"A.id\">5</incrementale>"
         "<query>ok</query></A>"
         "<B><operazione>B</operazione><incrementale attivo=\"si\" autoupdate=\"si\" riempi=\"B.id\">5</incrementale>"
         "<query>bad</query></B>",
         [](RunFx& r) { r.f.db.rules.push_back({"bad"}); },
         false,
         {"open", "step:A", "exec:ok", "query:select max( A.id) from A", "close", "success", "open", "step:B",
          "exec:bad", "close", "nosuccess"},
         [](RunFx& r) {
             EXPECT_EQ(r.doc.root().children()[0].child("incrementale").text(), "5");
             EXPECT_EQ(r.doc.root().children()[1].child("incrementale").text(), "5");
         }},
        {"BUSANDTASK with one job makes no call",
         "access",
         "<BUSANDTASK><operazione>Bus</operazione><query>TASK</query></BUSANDTASK>",
         nullptr,
         true,
         {"open", "step:Bus", "close", "success"},
         [](RunFx& r) { EXPECT_TRUE(r.host.calls.empty()); }},
        {"BUSANDTASK calls once per further job, last result counts",
         "access",
         "<BUSANDTASK><operazione>Bus</operazione><query>TASK</query><query>p1</query><query>p2</query></BUSANDTASK>",
         [](RunFx& r) { r.host.busOk = false; },
         false,
         {"open", "step:Bus", "close", "nosuccess"},
         [](RunFx& r) {
             EXPECT_EQ(r.host.calls, (std::vector<std::string>{"bus:TASK|p1", "bus:TASK|p2"}));
         }},
        {"COMPATTA closes and compacts the Access file",
         "access",
         "<COMPATTA><operazione>Compatta</operazione></COMPATTA>",
         [](RunFx& r) { r.f.settings.PercorsoAccess = "/x.db"; },
         true,
         {"open", "step:Compatta", "close", "close", "success"},
         [](RunFx& r) { EXPECT_EQ(r.host.calls, (std::vector<std::string>{"compact:/x.db"})); }},
        {"a failed COMPATTA fails its step and ends the run",
         "access",
         "<COMPATTA><operazione>Compatta</operazione></COMPATTA><ALTRO><operazione>Z</operazione></ALTRO>",
         [](RunFx& r) { r.host.compactOk = false; },
         false,
         {"open", "step:Compatta", "close", "close", "nosuccess"},
         nullptr},
        {"special steps dispatch to the host",
         "access",
         "<ELABORACUBI><operazione>C</operazione></ELABORACUBI><IMPORTXML><operazione>X</operazione></IMPORTXML>"
         "<EXECUTEDTS><operazione>D</operazione></EXECUTEDTS><IMPORTEMAIL><operazione>M</operazione></IMPORTEMAIL>"
         "<ALTRO><operazione>Z</operazione></ALTRO>",
         nullptr,
         false,
         {"open", "step:C", "close", "success", "open", "step:X", "close", "success", "open", "step:D", "close",
          "success", "open", "step:M", "close", "nosuccess"},
         [](RunFx& r) {
             EXPECT_EQ(r.host.calls, (std::vector<std::string>{"cubes", "importxml", "dts", "mail"}));
         }},
        {"SINCRONIA never inserts after a failed delete and fails",
         "sqlserver",
         "<SINCRONIA><operazione>Sync</operazione><query>A,B</query></SINCRONIA>",
         [](RunFx& r) { r.f.db.rules.push_back({"DELETE FROM SQLServer_A"}); },
         false,
         {"open", "step:Sync", "exec:DELETE FROM SQLServer_A", "exec:DELETE FROM SQLServer_B",
          "exec:INSERT INTO SQLServer_B SELECT * FROM B", "close", "nosuccess"},
         nullptr},
        {"STAGE runs the staging statement",
         "sqlserver",
         "<STAGE><operazione>Stage</operazione><query>ART;LNK</query><query>bad</query></STAGE>",
         nullptr,
         false,
         {"open", "step:Stage",
          "exec:if exists (select * from dbo.sysobjects where id = object_id(N'[dbo].[STA_ART]') and "
          "OBJECTPROPERTY(id, N'IsUserTable') = 1) drop table [dbo].[STA_ART];select ART.* into STA_ART from "
          "openquery(LNK,'select * from ART   ') ART where ditta in (select ditta from ditte) ;",
          "close", "nosuccess"},
         nullptr},
        {"connection fails three times: run ends",
         "access",
         kTwoSteps,
         [](RunFx& r) {
             r.f.db.openResults = {false, false, false};
         },
         false,
         {"open", "open", "open", "close"},
         [](RunFx& r) { EXPECT_GE(r.f.clock.tickMs(), 20000); }},
        {"a refusal no new try can change: one try, no wait",
         "access",
         kTwoSteps,
         [](RunFx& r) {
             r.f.db.openResults = {false, false, false};
             r.f.db.refusedForGood = true;
         },
         false,
         {"open", "close"},
         [](RunFx& r) { EXPECT_LT(r.f.clock.tickMs(), 10000); }},
        {"stop during the wait between connection tries: no third try",
         "access",
         kTwoSteps,
         [](RunFx& r) {
             r.f.db.openResults = {false, false, false};
             r.f.yield.onYield = [&r](int n) {
                 if (n == 3)
                     r.f.state.setStatoProcesso(RunState::kStopped);
             };
         },
         false,
         {"open", "close"},
         nullptr},
        {"stop after a step ends the run, which then did not do all it was asked",
         "access",
         kTwoSteps,
         [](RunFx& r) {
             r.f.yield.onYield = [&r](int) {
                 if (std::count(r.f.db.calls.begin(), r.f.db.calls.end(), "success") == 1)
                     r.f.state.setStatoProcesso(RunState::kStopped);
             };
         },
         false,
         {"open", "step:Clienti", "exec:delete from CLIENTI ",
          "exec:ALTER TABLE CLIENTI ALTER COLUMN ID COUNTER (1, 1)", "exec:insert into CLIENTI select 1", "close",
          "success"},
         nullptr},
        {"pause holds the run between steps until play",
         "access",
         kTwoSteps,
         [](RunFx& r) {
             r.f.yield.onYield = [&r](int) {
                 const auto ok = std::count(r.f.db.calls.begin(), r.f.db.calls.end(), "success");
                 if (ok == 1 && r.f.state.StatoProcesso() == RunState::kRunning && r.f.clock.tickMs() < 1000)
                     r.f.state.setStatoProcesso(RunState::kPaused);
                 else if (r.f.state.StatoProcesso() == RunState::kPaused && r.f.clock.tickMs() >= 5000)
                     r.f.state.setStatoProcesso(RunState::kRunning);
             };
         },
         true,
         {"open", "step:Clienti", "exec:delete from CLIENTI ",
          "exec:ALTER TABLE CLIENTI ALTER COLUMN ID COUNTER (1, 1)", "exec:insert into CLIENTI select 1", "close",
          "success", "open", "step:Ordini", "exec:q1", "exec:q2", "exec:q3", "close", "success"},
         [](RunFx& r) { EXPECT_GE(r.f.clock.tickMs(), 5000); }},
    };
    for (const RunCase& c : cases) {
        SCOPED_TRACE(c.name);
        RunFx r(c.tipo, c.body);
        if (c.setup)
            c.setup(r);
        EXPECT_EQ(r.go(), c.expected);
        EXPECT_EQ(r.dbCalls(), c.calls);
        if (c.check)
            c.check(r);
    }
}

TEST(ExtractionRun, UnconnectedHostFailsItsStepsWithALogLine)
{
    RunFx r("access", "<IMPORTXML><operazione>X</operazione></IMPORTXML>");
    UnconnectedEngineHost host(r.f.log);
    ExtractionRun run(r.f.ctx, host, r.f.env.home(), r.messages);
    EXPECT_FALSE(run.EseguiEstrazione(r.tree, r.doc.root()));
    const auto texts = r.f.logTexts();
    EXPECT_NE(std::find(texts.begin(), texts.end(), "Passo non disponibile in questa installazione: IMPORTXML"),
              texts.end());
}

} // namespace
} // namespace zs::engine::test
