#pragma once
// Passwords never stand in clear in the settings file: each character's code (Windows-1252)
// is multiplied modulo a fixed modulus and written as five upper-case hexadecimal digits.

#include <optional>
#include <string>
#include <string_view>

namespace zs::program {

double ModuloReale(double x, double m);
double CifraCodice(double code);
double DecifraCodice(double value);

/// True when the encoded form can hold the text exactly: every character has a Windows-1252
/// code. A password that fails this is refused where it is typed, never stored altered.
bool PasswordCodificabile(std::string_view text);
/// What the operator is told when a typed password fails PasswordCodificabile. It names no
/// character: messages never show a password, not even in part.
inline constexpr const char* kPasswordNonCodificabile =
    "La password contiene caratteri che non possono essere salvati: sono ammessi solo lettere, cifre e simboli "
    "dell'alfabeto latino occidentale (Windows-1252). La password non e' stata cambiata.";

/// The encoded form of a UTF-8 text. Callers check PasswordCodificabile first: a character
/// outside Windows-1252 would be taken as '?'.
std::string CodificaPassword(std::string_view text);
/// The clear (UTF-8) text of an encoded form, or "" when any group is not hexadecimal or does
/// not decode to a character code.
std::string DecodificaPassword(std::string_view text);
/// The clear text of a password as the settings store it; nothing when the text is no encoded
/// form (a password written there by hand): groups of five hexadecimal digits, each a code.
std::optional<std::string> decodeStoredPassword(std::string_view text);
/// The password a stored text stands for: its clear text, or the text as written when it is no
/// encoded form (never an empty password for a hand-written one).
std::string storedPasswordText(std::string_view text);
/// What the operator is told of a stored password that is no encoded form, naming its element.
std::string passwordNotEncoded(const std::string& element);

} // namespace zs::program
