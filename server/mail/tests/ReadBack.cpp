#include "ReadBack.h"

#include "mailpeers/MailPeers.h"

#include <fstream>
#include <sstream>
#include <strings.h>

namespace zs::mail::test {
namespace {

std::string unhex(const std::string& hex)
{
    std::string out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
}

} // namespace

std::vector<std::string> ReadBack::header(const std::string& name) const
{
    std::vector<std::string> out;
    for (const auto& [n, v] : headers)
        if (::strcasecmp(n.c_str(), name.c_str()) == 0)
            out.push_back(v);
    return out;
}

std::string ReadBack::describe() const
{
    std::string out = ran ? "" : "(the reader did not run)\n";
    for (const auto& d : defects)
        out += "defect: " + d + "\n";
    for (const auto& e : errors)
        out += "error: " + e + "\n";
    for (const auto& [n, v] : headers)
        out += "header " + n + ": " + v + "\n";
    out += "body: " + body + "\n";
    for (const auto& a : attachments)
        out += "attachment " + a.first + " (" + std::to_string(a.second.size()) + " bytes)\n";
    for (const auto& a : uuencoded)
        out += "uuencoded " + a.first + " (" + std::to_string(a.second.size()) + " bytes)\n";
    return out;
}

ReadBack readBack(const std::string& raw)
{
    zs::test::TempDir dir;
    const auto input = dir / "message.eml";
    const auto output = dir / "found.txt";
    std::ofstream(input, std::ios::binary) << raw;
    ReadBack r;
    r.ran = runToEnd({"/usr/bin/python3", ZS_MAIL_TESTS_DIR "/read_mail.py", input.string(), output.string()},
                     dir / "reader.log") == 0;
    std::ifstream in(output);
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        std::string kind, a, b;
        fields >> kind >> a >> b;
        if (kind == "defect")
            r.defects.push_back(unhex(a));
        else if (kind == "error")
            r.errors.push_back(unhex(a));
        else if (kind == "header")
            r.headers.emplace_back(unhex(a), unhex(b));
        else if (kind == "body")
            r.body = unhex(a);
        else if (kind == "attachment")
            r.attachments.emplace_back(unhex(a), unhex(b));
        else if (kind == "uu")
            r.uuencoded.emplace_back(unhex(a), unhex(b));
    }
    if (!r.ran) {
        std::ifstream log(dir / "reader.log");
        std::stringstream ss;
        ss << log.rdbuf();
        r.errors.push_back("reader failed: " + ss.str());
    }
    return r;
}

} // namespace zs::mail::test
