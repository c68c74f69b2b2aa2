#include "program/PasswordCodec.h"

#include "text/Cp1252.h"

#include <cmath>
#include <cstdio>

namespace zs::program {

namespace {
constexpr double kMultiplier = 2963;
constexpr double kInverse = 17029;
constexpr double kModulus = 50456926;
constexpr int kGroup = 5;

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}
} // namespace

double ModuloReale(double x, double m)
{
    return x - std::floor(x / m) * m;
}

double CifraCodice(double code)
{
    return ModuloReale(code * kMultiplier, kModulus);
}

double DecifraCodice(double value)
{
    return ModuloReale(value * kInverse, kModulus);
}

bool PasswordCodificabile(std::string_view text)
{
    // Malformed UTF-8 does not come back either: the code page turns it into other characters.
    return text::fromCp1252(text::toCp1252(text)) == text;
}

std::string CodificaPassword(std::string_view text)
{
    const std::string bytes = text::toCp1252(text);
    std::string out;
    out.reserve(bytes.size() * kGroup);
    char buf[16];
    for (const char c : bytes) {
        // Every Windows-1252 code scrambles to at most 255 * 2963 = 0xB876D, five digits.
        const auto value = static_cast<unsigned long>(CifraCodice(static_cast<unsigned char>(c)));
        std::snprintf(buf, sizeof buf, "%05lX", value);
        out += buf;
    }
    return out;
}

std::string DecodificaPassword(std::string_view text)
{
    std::string bytes;
    bytes.reserve(text.size() / kGroup + 1);
    for (std::size_t start = 0; start < text.size(); start += kGroup) {
        const std::string_view group = text.substr(start, kGroup);
        double value = 0;
        for (const char c : group) {
            const int d = hexDigit(c);
            if (d < 0)
                return {};
            value = value * 16 + d;
        }
        const double code = std::round(DecifraCodice(value));
        if (code < 0 || code > 255)
            return {};
        bytes += static_cast<char>(static_cast<unsigned char>(code));
    }
    return text::fromCp1252(bytes);
}

std::optional<std::string> decodeStoredPassword(std::string_view text)
{
    if (text.size() % kGroup != 0)
        return std::nullopt;
    std::string clear = DecodificaPassword(text);
    // Only an empty text decodes to nothing: any other "" is a group that is no code.
    if (clear.empty() && !text.empty())
        return std::nullopt;
    return clear;
}

std::string storedPasswordText(std::string_view text)
{
    return decodeStoredPassword(text).value_or(std::string(text));
}

std::string passwordNotEncoded(const std::string& element)
{
    return "La password dell'elemento " + element + " non è codificata: impostarla da Opzioni principali";
}

} // namespace zs::program
