// Property validation with its error list, and the settings kept in the per-user store.
#include "mail/clsSendMail.h"

#include "registry/UserRegistry.h"
#include "testsupport/TestEnv.h"

#include <functional>
#include <gtest/gtest.h>

using namespace zs::mail;

namespace {
struct Events {
    std::vector<std::string> failed;
    int succeeded = 0;
    void attach(clsSendMail& m)
    {
        m.SendFailed = [this](const std::string& t) { failed.push_back(t); };
        m.SendSuccesful = [this] { ++succeeded; };
    }
};
bool hasError(const clsSendMail& m, const std::string& text)
{
    return std::find(m.errors().begin(), m.errors().end(), text) != m.errors().end();
}
} // namespace

TEST(SendMailProperties, EachRefusedValueIsRecordedAndALaterValidOneRemovesIt)
{
    zs::test::ScopedTestEnv env;
    zs::test::writeFile(env.root() / "exists.txt", "x");
    const std::string good = (env.root() / "exists.txt").string();
    struct Case {
        const char* name;
        std::function<void(clsSendMail&)> bad, fixed;
        const char* text;
    } cases[] = {
        {"Recipient", [](auto& m) { m.setRecipient("nobody"); }, [](auto& m) { m.setRecipient("a@b.it"); },
         "Missing or Invalid Recipient E-mail Address"},
        {"CcRecipient", [](auto& m) { m.setCcRecipient("x@y@z.it"); }, [](auto& m) { m.setCcRecipient("a@b.it"); },
         "Invalid Cc: Recipient E-mail Address"},
        {"BccRecipient", [](auto& m) { m.setBccRecipient("a@b.zz"); }, [](auto& m) { m.setBccRecipient(""); },
         "Invalid Bcc: Recipient E-mail Address"},
        {"from", [](auto& m) { m.setFrom("me"); }, [](auto& m) { m.setFrom(" me@b.it "); },
         "Missing or Invalid Sender E-mail Address"},
        {"Attachment", [&](auto& m) { m.setAttachment(good + ";/no/such/file"); },
         [&](auto& m) { m.setAttachment(good); }, "The file you tried to attach does not exist"},
        {"SMTPHost", [](auto& m) { m.setSMTPHost("no-such-host.invalid"); },
         [](auto& m) { m.setSMTPHost("127.0.0.1"); }, "Invalid or Missing SMTP Host Name"},
        {"POP3Host", [](auto& m) { m.setPOP3Host("no-such-host.invalid"); }, [](auto& m) { m.setPOP3Host(""); },
         "Invalid or Missing POP3 Host Name"},
        {"SMTPPort", [](auto& m) { m.setSMTPPort(70000); }, [](auto& m) { m.setSMTPPort(2525); },
         "Invalid Remote Port"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        clsSendMail m;
        c.bad(m);
        EXPECT_TRUE(hasError(m, c.text));
        c.bad(m);
        EXPECT_EQ(m.errors().size(), 1u) << "the same text is kept once";
        c.fixed(m);
        EXPECT_TRUE(m.errors().empty());
    }
}

TEST(SendMailProperties, SendReportsTheWholeListWithoutConnecting)
{
    zs::test::ScopedTestEnv env;
    clsSendMail m;
    Events ev;
    ev.attach(m);
    std::vector<std::string> status;
    m.Status = [&](const std::string& s) { status.push_back(s); };
    m.setSMTPHost("127.0.0.1");
    m.setSMTPPort(0);
    m.setFrom("me@example.it");
    m.setRecipient("bad");
    m.Send();
    ASSERT_EQ(ev.failed.size(), 1u);
    EXPECT_EQ(ev.failed[0], "Invalid Remote Port\r\nMissing or Invalid Recipient E-mail Address\r\n");
    EXPECT_TRUE(status.empty()) << "no connection was attempted";
    EXPECT_TRUE(m.errors().empty()) << "reporting consumes the list";

    clsSendMail none;
    Events ev2;
    ev2.attach(none);
    none.setFrom("me@example.it");
    none.Send();
    ASSERT_EQ(ev2.failed.size(), 1u);
    EXPECT_EQ(ev2.failed[0], "No Recipient E-mail Address Specified\r\n");

    clsSendMail many;
    Events ev3;
    ev3.attach(many);
    many.setFrom("me@example.it");
    std::string list;
    for (int i = 0; i < 101; ++i)
        list += (i ? ";" : "") + std::string("r") + std::to_string(i) + "@example.it";
    many.setRecipient(list);
    many.setAsHTML(true);
    many.setEncodeType(1);
    many.Send();
    ASSERT_EQ(ev3.failed.size(), 1u);
    EXPECT_EQ(ev3.failed[0], "Sending HTML requires MIME encoding\r\nToo many recipients\r\n");
}

TEST(SendMailProperties, ValuesAsStored)
{
    zs::test::ScopedTestEnv env;
    clsSendMail m;
    EXPECT_EQ(m.SMTPPort(), 25);
    EXPECT_EQ(m.ConnectTimeout(), 40);
    EXPECT_EQ(m.MessageTimeout(), 60);
    EXPECT_EQ(m.ConnectRetry(), 4);
    EXPECT_EQ(m.MaxRecipients(), 100);
    EXPECT_EQ(m.SMTPHostValidation(), 3);
    EXPECT_EQ(m.EmailAddressValidation(), 1);
    EXPECT_EQ(m.EncodeType(), 0);
    EXPECT_EQ(m.Priority(), 3);

    m.setRecipient("a@b.it;c@d.it");
    EXPECT_EQ(m.Recipient(), "a@b.it;c@d.it");
    m.setDelimiter(";;");
    EXPECT_EQ(m.Delimiter(), ";");
    m.setDelimiter(",");
    m.setRecipient(" a@b.it ,\tc@d.it");
    EXPECT_EQ(m.Recipient(), "a@b.it,c@d.it");
    m.setRecipient("a@b.it,");
    EXPECT_FALSE(m.errors().empty()) << "an empty last entry is not an address";
    m.setEmailAddressValidation(0);
    m.setRecipient("anything at all");
    EXPECT_TRUE(m.errors().empty());
    m.setFrom("  me@b.it  ");
    EXPECT_EQ(m.from(), "me@b.it");
    m.setConnectRetry(25);
    EXPECT_EQ(m.ConnectRetry(), 4);
    m.setMessageTimeout(-30);
    EXPECT_EQ(m.MessageTimeout(), 30);
    m.setPriority(2);
    EXPECT_EQ(m.Priority(), 2);
    m.setContentBase("C:\\web\\site");
    EXPECT_EQ(m.ContentBase(), "http://C:/web/site/");
    m.setContentBase("HTTP://x.it/a/");
    EXPECT_EQ(m.ContentBase(), "HTTP://x.it/a/");
    m.setContentBase("https://x.it");
    EXPECT_EQ(m.ContentBase(), "http://https://x.it/");
    m.setSMTPHostValidation(0);
    m.setSMTPHost("not resolvable.invalid");
    EXPECT_TRUE(m.errors().empty());
    m.setSMTPHostValidation(3);
    EXPECT_FALSE(m.errors().empty()) << "a new rule checks the host again";
    m.setMessage("Caff\xC3\xA8");
    EXPECT_EQ(m.Message(), "Caff\xC3\xA8");
}

TEST(SendMailSettings, KeptSettingsRoundTripThroughTheUserStore)
{
    zs::test::ScopedTestEnv env;
    {
        clsSendMail m;
        m.setConnectRetry(7); // not persistent yet: nothing written
        EXPECT_FALSE(zs::registry::UserRegistry().value("Software\\Mercuvo\\Settings", "ConnectRetry"));
        m.setPersistentSettings(true);
        m.setSMTPHostValidation(0);
        m.setSMTPHost("mail.example.it");
        m.setSMTPPort(2525);
        m.setSMTPPort(99999); // refused: writes nothing
        m.setFrom(" me@example.it ");
        m.setFromDisplayName("Zentrik");
        m.setConnectTimeout(12);
        m.setConnectTimeout(500);
        m.setMessageTimeout(-33);
        m.setMaxRecipients(-7);
        m.setUseAuthentication(true);
        m.setUsername("user");
        m.setPassWord("secret");
        m.setEncodeType(1);
    }
    zs::registry::UserRegistry reg;
    const std::string key = "Software\\Mercuvo\\Settings";
    EXPECT_EQ(reg.value(key, "PersistentSettings"), "-1");
    EXPECT_EQ(reg.value(key, "RemotePort"), "2525");
    EXPECT_EQ(reg.value(key, "From"), " me@example.it ");
    EXPECT_EQ(reg.value(key, "MessageTimeout"), "33");
    EXPECT_EQ(reg.value(key, "UseAuthentication"), "-1");
    EXPECT_FALSE(reg.value(key, "PassWord")) << "the password is never kept";

    clsSendMail again;
    EXPECT_TRUE(again.PersistentSettings());
    EXPECT_EQ(again.SMTPHost(), "mail.example.it");
    EXPECT_EQ(again.SMTPPort(), 2525);
    EXPECT_EQ(again.from(), " me@example.it ");
    EXPECT_EQ(again.FromDisplayName(), "Zentrik");
    EXPECT_EQ(again.ConnectTimeout(), 12);
    EXPECT_EQ(again.MessageTimeout(), 33);
    EXPECT_EQ(again.MaxRecipients(), 7);
    EXPECT_EQ(again.SMTPHostValidation(), 0);
    EXPECT_EQ(again.EncodeType(), 1);
    EXPECT_TRUE(again.UseAuthentication());
    EXPECT_EQ(again.Username(), "user");
    EXPECT_EQ(again.PassWord(), "");

    again.setPersistentSettings(false);
    EXPECT_EQ(reg.value(key, "PersistentSettings"), "-1") << "turning it off writes nothing";
    ASSERT_TRUE(reg.setValue(key, "PersistentSettings", "0"));
    clsSendMail fresh;
    EXPECT_EQ(fresh.SMTPPort(), 25);
}
