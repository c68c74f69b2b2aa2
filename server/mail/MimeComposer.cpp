// clsSendMail's message composition: the body as the message carries it, date and message id,
// the multipart boundary, the size estimate behind the progress figure, and the snapshot of
// header, envelope and files that one send writes.

#include "mail/clsSendMail.h"

#include "mail/AddressUtils.h"
#include "mail/Encoders.h"
#include "mail/MessageFormat.h"
#include "mail/SendMail_p.h"
#include "time/Clock.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <random>

namespace zs::mail {

namespace {

constexpr const char* kWeekdays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

std::string hex8(unsigned long long v)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%08llX", v);
    std::string s = buf;
    return s.size() > 8 ? s.substr(s.size() - 8) : s;
}

} // namespace

std::string clsSendMail::PrepareBody(const std::string& text)
{
    // One line at a time, whatever ended it (CR LF, CR or LF): the message knows only CR LF.
    std::string out;
    out.reserve(text.size() + text.size() / 64 + 2);
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find_first_of("\r\n", start);
        const std::size_t stop = end == std::string::npos ? text.size() : end;
        // A line of 999 characters or more is cut at its last blank within 998 (kept on the
        // first piece), or at 998 when it has none.
        std::size_t pos = start;
        while (stop - pos >= 999) {
            const std::size_t blank = text.rfind(' ', pos + 997);
            const std::size_t cut = (blank != std::string::npos && blank >= pos) ? blank + 1 - pos : 998;
            out.append(text, pos, cut);
            out += "\r\n";
            pos += cut;
        }
        out.append(text, pos, stop - pos);
        if (end == std::string::npos)
            return out;
        out += "\r\n";
        start = end + (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n' ? 2 : 1);
    }
}

std::string clsSendMail::formatZoneOffset(int minutesEast)
{
    const int a = std::abs(minutesEast);
    char buf[16];
    std::snprintf(buf, sizeof buf, "%c%02d%02d", minutesEast < 0 ? '-' : '+', a / 60 % 100, a % 60);
    return buf;
}

std::string clsSendMail::MakeDateText() const
{
    const auto now = m_clock.now();
    char buf[64];
    std::snprintf(buf, sizeof buf, "%s, %d %s %04d %02d:%02d:%02d ", kWeekdays[(now.weekday() + 6) % 7], now.day,
                  kMonths[(now.month + 11) % 12], now.year, now.hour, now.minute, now.second);
    return buf + m_zone;
}

std::string clsSendMail::MakeMessageId() const
{
    const auto now = std::chrono::system_clock::now();
    const std::time_t secs = std::chrono::system_clock::to_time_t(now);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm tm{};
    ::gmtime_r(&secs, &tm);
    char stamp[96];
    std::snprintf(stamp, sizeof stamp, "%04d%02d%02d%02d%02d%02d%03d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                  tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(ms));
    static constexpr std::string_view kChars = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz012345678";
    std::mt19937 gen(std::random_device{}());
    std::uniform_int_distribution<std::size_t> dist(0, kChars.size() - 1);
    std::string id = std::string(stamp) + '.';
    for (int i = 0; i < 20; ++i)
        id += kChars[dist(gen)];
    // The machine's own name, as the system keeps it: a reverse look-up per message could stall
    // the send on a slow resolver.
    const std::string host = zs::mail::GetIPHost();
    return id + '@' + messageIdHost(host.empty() ? m_smtpHost : host);
}

long clsSendMail::EstimateMessageSize() const
{
    auto L = [](const std::string& s) { return static_cast<long>(s.size()); };
    long total = L(m_from) + 93;
    if (m_useAuth) {
        total += L(m_from) + 25;
        if (!m_username.empty())
            total += L(m_username) * 4 / 3;
        if (!m_password.empty())
            total += L(m_password) * 4 / 3;
    }
    auto addresses = [&](const std::vector<std::string>& list, long twice) {
        for (std::size_t i = 0; i < list.size(); ++i)
            total += twice * L(list[i]) + 15 + (i > 0 ? 6 : 0);
    };
    addresses(m_to, 2);
    for (const auto& n : m_toNames)
        total += L(n) + 11;
    addresses(m_cc, 2);
    for (const auto& n : m_ccNames)
        total += L(n) + 11;
    addresses(m_bcc, 1);
    if (!m_fromName.empty())
        total += L(m_fromName) + 3;
    total += L(m_from);
    if (!m_replyTo.empty())
        total += L(m_replyTo) + 14;
    total += L(m_subject) + L(m_message);
    if (!sendsPlain()) {
        total += 64;
        if (m_asHtml && !m_contentBase.empty())
            total += L(m_contentBase) + 18;
        if (m_receipt)
            total += L(m_fromName) + 36 + L(m_from);
    }
    const long n = static_cast<long>(m_attachPaths.size());
    const long s = static_cast<long>(m_attachSize);
    const long t = static_cast<long>(m_attachNameLength);
    if (n >= 1) {
        if (sendsPlain())
            total += s * 4 / 3 + (s / 45) * 3 + t + 20 * n;
        else
            total += s * 4 / 3 + 42 + (s / 57) * 2 + 2 * t + 182 * n + 290;
    }
    return total;
}

std::string clsSendMail::makeBoundary() const
{
    const auto now = m_clock.now();
    const auto serial = static_cast<unsigned long long>(now.daysSinceEpoch() + 25569);
    const double fraction = (now.hour * 3600 + now.minute * 60 + now.second) / 86400.0;
    return "----_=_NextPart_000_" + hex8(serial) + '.' +
           hex8(static_cast<unsigned long long>(std::llround(fraction * 1e8)));
}

clsSendMail::Outgoing clsSendMail::composeMessage()
{
    Outgoing out;
    out.plain = sendsPlain();
    std::fill(m_embedded.begin(), m_embedded.end(), false);
    const bool embedded = !m_attachPaths.empty() && EmbedInlineFiles();
    if (!out.plain && !m_attachPaths.empty())
        out.boundary = makeBoundary();

    HeaderFields f;
    f.messageId = MakeMessageId();
    f.date = MakeDateText();
    // A kept sender read back from the settings may carry blanks; the envelope never does.
    f.from = trim(m_from);
    f.fromName = m_fromName;
    for (std::size_t i = 0; i < m_to.size(); ++i)
        f.to.emplace_back(m_to[i], i < m_toNames.size() ? m_toNames[i] : std::string());
    for (std::size_t i = 0; i < m_cc.size(); ++i)
        f.cc.emplace_back(m_cc[i], i < m_ccNames.size() ? m_ccNames[i] : std::string());
    f.subject = m_subject;
    f.replyTo = m_replyTo;
    f.mime = !out.plain;
    f.priority = m_priority;
    f.priorityWord = m_priorityWord;
    f.receipt = m_receipt;
    f.boundary = out.boundary;
    f.related = embedded;
    f.html = m_asHtml;
    f.eightBit = m_eightBit;
    f.quotedPrintable = m_hasNul;
    f.contentBase = m_contentBase;
    out.header = composeHeader(f);

    out.from = f.from;
    for (const auto* list : {&m_to, &m_cc, &m_bcc})
        out.recipients.insert(out.recipients.end(), list->begin(), list->end());
    out.body = f.quotedPrintable ? EncodeQuotedPrintable(m_message) : m_message;
    for (std::size_t i = 0; i < m_attachPaths.size(); ++i) {
        const bool inline_ = m_embedded[i] && embedded;
        out.files.push_back({m_attachPaths[i], m_attachNames[i],
                             inline_ ? contentIdOf(m_attachNames[i]) : std::string(), m_embedded[i]});
    }
    return out;
}

} // namespace zs::mail
