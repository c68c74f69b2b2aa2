#include "OperationStore.h"
#include "fs/ReadFile.h"

#include "Operazione.h"

#include "fs/AtomicFile.h"
#include "fs/FileOps.h"
#include "text/Ascii.h"
#include "text/ItalianFormat.h"
#include "xml/XmlDocument.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <limits>
#include <optional>

namespace zs::cadenzo {

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// A whole number as the store's `ora` and `minuti` hold it: any number text, rounded half to
// even; nothing for a text that is not a number or does not fit.
std::optional<std::int32_t> wholeNumber(std::string_view text)
{
    auto v = text::parseNumber(text::trim(text, " \t\r\n"));
    if (!v || !std::isfinite(*v))
        return std::nullopt;
    const double r = std::nearbyint(*v);
    if (r < std::numeric_limits<std::int32_t>::min() || r > std::numeric_limits<std::int32_t>::max())
        return std::nullopt;
    return static_cast<std::int32_t>(r);
}

} // namespace

std::string storeText(const OperationList& operations)
{
    std::string text = "<cadenzo>\r\n";
    for (const auto& op : operations)
        text += op->ToXml();
    text += "\r\n</cadenzo>";
    return text;
}

double leadingNumber(std::string_view text)
{
    std::string digits;
    size_t i = 0;
    auto skipBlanks = [&] {
        while (i < text.size() && isBlank(text[i]))
            ++i;
    };
    skipBlanks();
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        digits += text[i++];
    bool point = false;
    bool any = false;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (isBlank(c))
            continue; // Val reads "1 0" as 10
        if (std::isdigit(static_cast<unsigned char>(c))) {
            digits += c;
            any = true;
        } else if (c == '.' && !point) {
            digits += c;
            point = true;
        } else {
            break;
        }
    }
    if (any && i < text.size() && (text[i] == 'e' || text[i] == 'E' || text[i] == 'd' || text[i] == 'D')) {
        std::string exp = "e";
        size_t j = i + 1;
        if (j < text.size() && (text[j] == '+' || text[j] == '-'))
            exp += text[j++];
        size_t k = j;
        while (k < text.size() && std::isdigit(static_cast<unsigned char>(text[k])))
            exp += text[k++];
        if (k > j)
            digits += exp;
    }
    if (!any)
        return 0.0;
    try {
        return std::stod(digits);
    } catch (...) {
        return 0.0; // out of range: certainly not 1
    }
}

bool abilitatoMeansEnabled(std::string_view text)
{
    const std::string l = text::lowerAscii(text);
    if (l == "true" || l == "vero")
        return true;
    return leadingNumber(text) == 1.0;
}

LoadResult loadStore(const std::filesystem::path& file, const time::Clock& clock, OperationList& out)
{
    LoadResult result;
    std::error_code ec;
    if (!std::filesystem::exists(file, ec)) {
        result.fileMissing = true;
        return result;
    }
    const std::string where = "Errore nel file " + file.string();
    xml::ParseError perr;
    auto doc = xml::Document::loadFile(file, &perr, fs::ReadLimit::kStore);
    if (!doc) {
        result.ok = false;
        result.number = 91;
        result.error = where + ": " + perr.reason + " (riga " + std::to_string(perr.line) + ")";
        return result;
    }
    const xml::Element root = doc->root();
    int index = 0;
    for (const xml::Element& el : root.children()) {
        if (el.name() != "operazione")
            continue;
        ++index;
        auto fail = [&](const std::string& what, int number = 13) {
            result.ok = false;
            result.number = number;
            result.error = where + ": operazione " + std::to_string(index) + ": " + what;
            return result;
        };
        static constexpr std::string_view kChildren[] = {"azione", "abilitato", "data",       "ora",
                                                         "minuti", "escludi",   "periodicita"};
        for (auto name : kChildren)
            if (el.child(name).isNull())
                return fail("manca l'elemento " + std::string(name), 91);

        auto op = std::make_shared<clsOperazione>();
        op->setAzione(el.child("azione").text());
        op->setAbilitato(abilitatoMeansEnabled(el.child("abilitato").text()));

        const std::string dataText = el.child("data").text();
        auto data = text::parseDateTime(text::trim(dataText, " \t\r\n"));
        if (!data)
            return fail("data non valida \"" + dataText + "\"");
        op->setData(data->date());

        const std::string oraText = el.child("ora").text();
        auto ora = wholeNumber(oraText);
        if (!ora)
            return fail("ora non valida \"" + oraText + "\"");
        op->setOra(*ora);

        const std::string minutiText = el.child("minuti").text();
        auto minuti = wholeNumber(minutiText);
        if (!minuti)
            return fail("minuti non validi \"" + minutiText + "\"");
        op->setMinuti(*minuti);

        op->setEscludi(el.child("escludi").text());
        op->setPeriodicita(el.child("periodicita").text());
        op->CalcolaProssimoAppuntamento(clock);
        out.push_back(std::move(op));
    }
    return result;
}

bool saveStore(const std::filesystem::path& file, const OperationList& operations, std::string* error)
{
    // Every start loads the store and lists it again: a store that already says this is left
    // as it is, with no write and no sync before the window shows.
    const std::string text = storeText(operations);
    std::string onDisk;
    if (fs::readFileBounded(file, text.size(), onDisk) == fs::ReadOutcome::Read && onDisk == text)
        return true;
    return fs::writeFileAtomic(file, text, {}, error);
}

} // namespace zs::cadenzo

namespace zs::cadenzo {

bool saveStore(const std::filesystem::path& file, const OperationList& operations, std::string* error, fs::FileOps& ops)
{
    return fs::writeFileAtomic(file, storeText(operations), {}, error, ops);
}

} // namespace zs::cadenzo
