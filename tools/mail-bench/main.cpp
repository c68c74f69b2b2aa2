// Sends one file as an attachment to an SMTP server on 127.0.0.1 and prints the seconds the
// whole send took (session, envelope, message, QUIT), as scripts/bench-mail reads them.
//
//   zs-mail-bench PORT FILE
#include "mail/clsSendMail.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: zs-mail-bench PORT FILE\n");
        return 2;
    }
    zs::mail::clsSendMail m;
    std::string failure;
    bool sent = false;
    m.SendSuccesful = [&] { sent = true; };
    m.SendFailed = [&](const std::string& text) { failure = text; };
    m.setSMTPHostValidation(0);
    m.setSMTPHost("127.0.0.1");
    m.setSMTPPort(std::atol(argv[1]));
    m.setConnectTimeout(30);
    m.setMessageTimeout(60);
    m.setFrom("bench@example.it");
    m.setRecipient("dest@example.it");
    m.setSubject("Bench");
    m.setMessage("Allegato di prova");
    m.setAttachment(argv[2]);
    const auto start = std::chrono::steady_clock::now();
    m.Send();
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    if (!sent) {
        std::fprintf(stderr, "zs-mail-bench: send failed: %s\n", failure.c_str());
        return 1;
    }
    std::printf("%.6f\n", took.count());
    return 0;
}
