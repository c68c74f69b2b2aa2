#pragma once
// Splits a command line written for Windows into an argv, by the rules Windows programs use
// to read their own command line: blanks separate, double quotes group, backslashes escape a
// quote. Used wherever a setting holds a command line; nothing here runs a shell.

#include <string>
#include <string_view>
#include <vector>

namespace zs::process {

/// The program name ends at the first blank, or at the closing quote when it starts with one
/// (backslashes are literal in it); the arguments follow the runtime's rules: 2n backslashes
/// before a quote give n backslashes and a quote that opens or closes a group, 2n+1 give n
/// backslashes and a literal quote, and "" inside a group is a literal quote.
std::vector<std::string> splitWindowsCommandLine(std::string_view commandLine);

} // namespace zs::process
