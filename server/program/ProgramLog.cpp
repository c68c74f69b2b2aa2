#include "program/ProgramLog.h"

#include "fs/AtomicFile.h"
#include "text/Cp1252.h"
#include "text/ItalianFormat.h"
#include "time/Clock.h"

#include <algorithm>
#include <cstdio>

namespace zs::program {

namespace {

bool isControl(unsigned char c)
{
    return (c < 0x20 && c != '\t') || c == 0x7f;
}

bool isPlainAscii(char c)
{
    const auto b = static_cast<unsigned char>(c);
    return b < 0x80 && !isControl(b);
}

void appendEscaped(std::string& out, unsigned value)
{
    static constexpr std::string_view kHex = "0123456789abcdef";
    out += "\\x";
    out += kHex[(value >> 4) & 15];
    out += kHex[value & 15];
}

} // namespace

std::string logEntry(std::string_view raw)
{
    if (std::all_of(raw.begin(), raw.end(), isPlainAscii))
        return std::string(raw);
    const std::string in = text::fromPeerText(raw);
    std::string out;
    out.reserve(in.size() + 16);
    bool pendingBreak = false;
    for (std::size_t i = 0; i < in.size(); ++i) {
        const auto c = static_cast<unsigned char>(in[i]);
        if (c == '\r' || c == '\n') {
            pendingBreak = !out.empty();
            continue;
        }
        if (pendingBreak) {
            if (c == ' ' || c == '\t')
                continue; // the next line's indent: the one blank stands for it
            if (out.back() != ' ' && out.back() != '\t')
                out += ' ';
            pendingBreak = false;
        }
        const auto next = i + 1 < in.size() ? static_cast<unsigned char>(in[i + 1]) : 0;
        if (isControl(c)) {
            appendEscaped(out, c);
        } else if (c == 0xC2 && next >= 0x80 && next < 0xA0) {
            appendEscaped(out, next); // a C1 control, or a byte the code page leaves unassigned
            ++i;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

DayLog::DayLog(std::filesystem::path programFolder, const time::Clock& clock)
    : m_folder(std::move(programFolder) / "log")
    , m_clock(clock)
{}

std::filesystem::path DayLog::currentFile() const
{
    const auto now = m_clock.now();
    char name[16];
    std::snprintf(name, sizeof name, "%02d%02d%02d.log", now.year % 100, now.month, now.day);
    return m_folder / name;
}

void DayLog::WriteInLog(std::string_view text, bool isError, bool blankLineFirst)
{
    const auto now = m_clock.now();
    std::string line;
    line.reserve(text.size() + 40);
    if (blankLineFirst)
        line += "\r\n";
    line += text::formatDateTime(now);
    line += "   :";
    if (isError)
        line += "ERRORE  ";
    line += text::toCp1252(logEntry(text));
    line += "\r\n";
    // toCp1252 above only touched the text; the stamp is ASCII.
    std::string error;
    const auto file = currentFile();
    if (fs::appendToFile(file, line, &error))
        return;
    // Told once for each day's file: on a disk near full, lines that still fit between
    // failures must not repeat the report.
    if (m_reported == file)
        return;
    m_reported = file; // before the report: the report adds a line, whose write fails again
    if (onError)
        onError(error);
}

ProgramLog::ProgramLog(DayLog& dayLog)
    : m_dayLog(dayLog)
{}

namespace {

// Ids grow with the position, so a binary search finds the node.
template <typename Nodes> auto findNode(Nodes& nodes, LogNodeId id) -> decltype(&*nodes.begin())
{
    auto it =
        std::lower_bound(nodes.begin(), nodes.end(), id, [](const LogNode& n, LogNodeId key) { return n.id < key; });
    return it != nodes.end() && it->id == id ? &*it : nullptr;
}

} // namespace

LogNode* ProgramLog::find(LogNodeId id)
{
    return findNode(m_nodes, id);
}

const LogNode* ProgramLog::node(LogNodeId id) const
{
    return findNode(m_nodes, id);
}

std::vector<const LogNode*> ProgramLog::children(LogNodeId parent) const
{
    std::vector<const LogNode*> out;
    for (const auto& n : m_nodes)
        if (n.parent == parent)
            out.push_back(&n);
    return out;
}

LogNode ProgramLog::newLine(std::string_view text, bool isError)
{
    LogNode n;
    n.id = m_nextId++;
    n.text = logEntry(text);
    n.error = isError;
    n.colour = isError ? kLogRed : kLogBlue;
    n.image = isError ? LogImage::Error : LogImage::Line;
    return n;
}

LogNodeId ProgramLog::OutputResponse(std::string_view text, bool isError, int level)
{
    LogNode n = newLine(text, isError);
    // A detail line without a current parent (none so far, or just after InitializeResponse)
    // goes to the top level: it neither fails nor is lost.
    const bool topLevel = level == 0 || !m_current;
    if (!topLevel)
        n.parent = m_current;
    m_nodes.push_back(n);
    const LogNodeId id = n.id;
    if (topLevel)
        m_current = id;
    if (m_listener)
        m_listener->nodeAdded(m_nodes.back());

    LogNode* parent = m_current ? find(*m_current) : nullptr;
    // The parent is told only of a real change: most lines leave it as it was.
    bool parentChanged = false;
    if (isError && level == 1 && parent && parent->id != id &&
        (parent->colour != kLogRed || parent->image != LogImage::Error)) {
        parent->colour = kLogRed;
        parent->image = LogImage::Error;
        parentChanged = true;
    }
    if (isError && parent && !parent->expanded) {
        parent->expanded = true;
        parentChanged = true;
    }
    if (parent && m_listener && (parentChanged || (parent->id == id && parent->expanded)))
        m_listener->nodeChanged(*parent);

    const std::string& entry = m_nodes.back().text;
    const bool blankLineFirst = parent && parent->text == entry;
    m_dayLog.WriteInLog(entry, isError, blankLineFirst);
    return id;
}

LogNodeId ProgramLog::OutputAside(std::string_view text, bool isError, bool dayLog)
{
    const LogNode n = newLine(text, isError);
    m_nodes.push_back(n);
    if (m_listener)
        m_listener->nodeAdded(m_nodes.back());
    if (dayLog)
        m_dayLog.WriteInLog(m_nodes.back().text, isError, true);
    return n.id;
}

void ProgramLog::WriteInLog(std::string_view text, bool isError, bool blankLineFirst)
{
    m_dayLog.WriteInLog(text, isError, blankLineFirst);
}

void ProgramLog::InitializeResponse()
{
    m_dayLog.rearmReport(); // the report on screen goes with the tree
    m_nodes.clear();
    m_current.reset();
    if (m_listener)
        m_listener->cleared();
}

void ProgramLog::setImage(LogNodeId id, LogImage image)
{
    if (LogNode* n = find(id)) {
        n->image = image;
        if (m_listener)
            m_listener->nodeChanged(*n);
    }
}

} // namespace zs::program
