// A slow but steady server: it reads 40 KB every quarter of a second, so a 10 MB attachment
// takes well over a minute, while both time-outs are 3 s. The kernel's buffers still hold
// megabytes when the last bytes are handed over; the send must not time out while the server
// keeps taking them, and the message must arrive whole.
#include "MailEvents.h"
#include "ReadBack.h"
#include "mailpeers/MailPeers.h"
#include "mailpeers/SlowLinkProxy.h"

#include "mail/clsSendMail.h"
#include "testsupport/TestEnv.h"

#include <chrono>
#include <gtest/gtest.h>

using namespace zs::mail;
using namespace zs::mail::test;

TEST(MailSlowLink, TenMegabytesToAServerReading40KbEveryQuarterSecondArriveWhole)
{
    zs::test::ScopedTestEnv env;
    SmtpPeer smtp;
    ASSERT_TRUE(smtp.ok());
    SlowLinkProxy slow(smtp.port(), {.chunk = 40 * 1024, .interval = std::chrono::milliseconds(250)});
    ASSERT_TRUE(slow.ok());
    const std::string data = randomBytes(10 << 20, 10);
    zs::test::writeFile(env.root() / "dieci.bin", data);

    clsSendMail m;
    MailEvents ev;
    ev.attach(m);
    configureLoopbackSend(m, slow.port());
    // The time-out bounds a wait without progress, not the send: at 160 KB/s the 14 MB of the
    // message take some 90 s, many times the 10 s, and none of its waits comes near it. It also
    // bounds the wait for the final reply while the server works through the 10 MB, which on a
    // busy machine takes seconds.
    m.setConnectTimeout(30);
    m.setMessageTimeout(10);
    m.setAttachment((env.root() / "dieci.bin").string());
    const auto start = std::chrono::steady_clock::now();
    m.Send();
    const auto took = std::chrono::steady_clock::now() - start;
    ASSERT_EQ(ev.outcomes(), std::vector<std::string>{"OK"}) << ev.failure();
    EXPECT_GT(took, std::chrono::seconds(40)) << "the link was not slow: the send was not many times the time-out";
    ASSERT_EQ(smtp.count(), 1);
    const ReadBack back = readBack(smtp.message());
    ASSERT_TRUE(back.ran) << back.describe();
    EXPECT_TRUE(back.defects.empty()) << back.describe();
    ASSERT_EQ(back.attachments.size(), 1u) << back.describe();
    EXPECT_EQ(back.attachments[0].first, "dieci.bin");
    EXPECT_TRUE(back.attachments[0].second == data) << "the attachment decodes byte-identical";
}
