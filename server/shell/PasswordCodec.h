#pragma once
// Passwords never stand in clear in the settings file: each character's code (Windows-1252)
// is multiplied modulo a fixed modulus and written as five upper-case hexadecimal digits.

#include <string>
#include <string_view>

namespace zs::shell {

double ModuloReale(double x, double m);
double CifraCodice(double code);
double DecifraCodice(double value);

/// The encoded form of a UTF-8 text; characters outside Windows-1252 are taken as '?'.
std::string CodificaPassword(std::string_view text);
/// The clear (UTF-8) text of an encoded form, or "" when any group is not hexadecimal or does
/// not decode to a character code.
std::string DecodificaPassword(std::string_view text);

} // namespace zs::shell
