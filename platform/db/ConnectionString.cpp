#include "db/ConnectionString.h"

#include "fs/Paths.h"
#include "text/Ascii.h"

#include <algorithm>
#include <cstdlib>

namespace zs::db {

namespace {

std::string envOr(const char* name, const char* fallback)
{
    const char* v = std::getenv(name);
    return v && *v ? v : fallback;
}

bool isPasswordKey(std::string_view key)
{
    const std::string k = text::lowerAscii(text::trim(key));
    return k == "pwd" || k == "password" || (k.size() > 8 && k.ends_with("password"));
}

} // namespace

std::optional<ConnectionString> ConnectionString::parse(std::string_view text, std::string& error)
{
    ConnectionString cs;
    std::size_t i = 0;
    int itemNumber = 0;
    while (i <= text.size()) {
        // Key: up to '=' or ';'.
        std::size_t keyStart = i;
        while (i < text.size() && text[i] != '=' && text[i] != ';')
            ++i;
        const std::string_view key = text::trim(text.substr(keyStart, i - keyStart));
        if (i >= text.size() || text[i] == ';') {
            if (!key.empty()) {
                error = "malformed connection string: item " + std::to_string(itemNumber + 1) +
                        " has no \"=\" (a value holding \";\" must be quoted)";
                return std::nullopt;
            }
            ++i; // empty item
            ++itemNumber;
            continue;
        }
        if (key.empty()) {
            error = "malformed connection string: item " + std::to_string(itemNumber + 1) + " has no key";
            return std::nullopt;
        }
        ++i; // '='
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
            ++i;
        std::string value;
        if (i < text.size() && (text[i] == '{' || text[i] == '"' || text[i] == '\'')) {
            const char close = text[i] == '{' ? '}' : text[i];
            ++i;
            bool closed = false;
            while (i < text.size()) {
                if (text[i] == close) {
                    if (i + 1 < text.size() && text[i + 1] == close) {
                        value += close;
                        i += 2;
                        continue;
                    }
                    ++i;
                    closed = true;
                    break;
                }
                value += text[i++];
            }
            if (!closed) {
                error = "malformed connection string: the value of \"" + std::string(key) + "\" has no closing quote";
                return std::nullopt;
            }
            while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
                ++i;
            if (i < text.size() && text[i] != ';') {
                error = "malformed connection string: text after the quoted value of \"" + std::string(key) + "\"";
                return std::nullopt;
            }
        } else {
            const std::size_t start = i;
            while (i < text.size() && text[i] != ';')
                ++i;
            value = std::string(text::trim(text.substr(start, i - start)));
        }
        cs.m_items.push_back({std::string(key), std::move(value)});
        ++i; // ';' or end
        ++itemNumber;
    }
    return cs;
}

std::optional<std::string> ConnectionString::get(std::string_view key) const
{
    for (const auto& item : m_items)
        if (text::equalsNoCase(item.key, key))
            return item.value;
    return std::nullopt;
}

void ConnectionString::set(std::string_view key, std::string value)
{
    for (auto& item : m_items)
        if (text::equalsNoCase(item.key, key)) {
            item.value = std::move(value);
            return;
        }
    m_items.push_back({std::string(key), std::move(value)});
}

void ConnectionString::remove(std::string_view key)
{
    std::erase_if(m_items, [&](const ConnectionItem& item) { return text::equalsNoCase(item.key, key); });
}

std::string ConnectionString::toOdbc() const
{
    std::string out;
    for (const auto& item : m_items) {
        if (!out.empty())
            out += ';';
        out += item.key;
        out += '=';
        const bool needsBraces = item.value.find_first_of(";{}") != std::string::npos ||
                                 (!item.value.empty() && (item.value.front() == ' ' || item.value.back() == ' '));
        // A driver name is conventionally braced.
        if (needsBraces || (text::equalsNoCase(item.key, "driver") && !item.value.empty())) {
            out += '{';
            for (char c : item.value) {
                out += c;
                if (c == '}')
                    out += '}';
            }
            out += '}';
        } else {
            out += item.value;
        }
    }
    return out;
}

namespace {

// The TDS protocol version FreeTDS speaks unless the string names one: the one of SQL Server
// 2012 and later (FreeTDS's own default is older than what current servers accept).
constexpr const char* kTdsVersion = "7.4";

ConnectionString translateSqlServer(const ConnectionString& in)
{
    ConnectionString out;
    const std::string driver = envOr("ZS_ODBC_SQLSERVER_DRIVER", "FreeTDS");
    out.set("Driver", driver);
    for (const auto& item : in.items()) {
        const std::string k = text::lowerAscii(item.key);
        if (k == "provider" || k == "persist security info" || k == "network library" || k == "packet size" ||
            k == "integrated security" || k == "use procedure for prepare" || k == "auto translate")
            continue;
        if (k == "data source" || k == "server" || k == "address" || k == "addr") {
            const auto comma = item.value.find(',');
            if (comma != std::string::npos) {
                out.set("Server", std::string(text::trim(std::string_view(item.value).substr(0, comma))));
                out.set("Port", std::string(text::trim(std::string_view(item.value).substr(comma + 1))));
            } else {
                out.set("Server", item.value);
            }
        } else if (k == "initial catalog" || k == "database") {
            out.set("Database", item.value);
        } else if (k == "user id" || k == "uid" || k == "user") {
            out.set("UID", item.value);
        } else if (k == "password" || k == "pwd") {
            out.set("PWD", item.value);
        } else if (k == "application name") {
            out.set("APP", item.value);
        } else if (k == "workstation id") {
            out.set("WSID", item.value);
        } else {
            out.set(item.key, item.value);
        }
    }
    if (text::lowerAscii(driver).find("freetds") != std::string::npos && !out.get("TDS_Version"))
        out.set("TDS_Version", kTdsVersion);
    return out;
}

ConnectionString translateOracle(const ConnectionString& in)
{
    ConnectionString out;
    out.set("Driver", envOr("ZS_ODBC_ORACLE_DRIVER", "Oracle"));
    // The database is the service on the server: "host[:port]" and "service" make the easy
    // connect name "host[:port]/service"; without one the data source is a TNS name.
    const std::string dataSource = in.get("Data Source").value_or("");
    const std::string database = in.get("Database").value_or("");
    for (const auto& item : in.items()) {
        const std::string k = text::lowerAscii(item.key);
        if (k == "provider" || k == "persist security info" || k == "plsqlrset" || k == "database")
            continue;
        if (k == "data source")
            out.set("DBQ",
                    database.empty() || dataSource.empty() ? dataSource + database : dataSource + "/" + database);
        else if (k == "user id" || k == "uid")
            out.set("UID", item.value);
        else if (k == "password" || k == "pwd")
            out.set("PWD", item.value);
        else
            out.set(item.key, item.value);
    }
    return out;
}

} // namespace

std::optional<ConnectionTarget> resolveConnectionString(std::string_view text, Error& error)
{
    std::string parseError;
    auto cs = ConnectionString::parse(text, parseError);
    if (!cs) {
        error = makeError(ErrorClass::BadArgument, parseError);
        return std::nullopt;
    }
    if (cs->items().empty()) {
        error = makeError(ErrorClass::BadArgument, "empty connection string");
        return std::nullopt;
    }
    ConnectionTarget target;
    const auto provider = cs->get("Provider");
    const auto dataSource = cs->get("Data Source");
    auto sqliteTarget = [&]() -> std::optional<ConnectionTarget> {
        if (!dataSource || dataSource->empty()) {
            error = makeError(ErrorClass::BadArgument, "the connection string names no database file (Data Source)");
            return std::nullopt;
        }
        target.kind = ConnectionTarget::Kind::Sqlite;
        target.sqlitePath = fs::resolveCaseInsensitive(fs::fromWindows(*dataSource)).string();
        return target;
    };
    if (provider) {
        const std::string p = text::lowerAscii(text::trim(*provider));
        if (p.starts_with("microsoft.jet.oledb") || p.starts_with("microsoft.ace.oledb"))
            return sqliteTarget();
        target.kind = ConnectionTarget::Kind::Odbc;
        if (p == "sqloledb" || p.starts_with("sqloledb.") || p.starts_with("sqlncli") || p.starts_with("msoledbsql")) {
            target.odbcString = translateSqlServer(*cs).toOdbc();
            return target;
        }
        if (p == "msdaora" || p.starts_with("msdaora.") || p.starts_with("oraoledb.oracle")) {
            target.odbcString = translateOracle(*cs).toOdbc();
            return target;
        }
        if (p == "msdasql" || p.starts_with("msdasql.")) {
            if (auto extended = cs->get("Extended Properties")) {
                target.odbcString = *extended;
            } else {
                cs->remove("Provider");
                target.odbcString = cs->toOdbc();
            }
            return target;
        }
        error = makeError(ErrorClass::BadArgument,
                          "Provider cannot be found: \"" + std::string(text::trim(*provider)) + "\"");
        error.number = kErrNoProvider;
        return std::nullopt;
    }
    if (cs->get("Driver") || cs->get("DSN") || cs->get("FILEDSN")) {
        target.kind = ConnectionTarget::Kind::Odbc;
        target.odbcString = std::string(text);
        return target;
    }
    if (dataSource)
        return sqliteTarget();
    error = makeError(ErrorClass::BadArgument, "the connection string names no provider, driver or data source");
    error.number = kErrNoProvider;
    return std::nullopt;
}

std::string withDriverDefaults(std::string_view odbcString)
{
    std::string error;
    auto cs = ConnectionString::parse(odbcString, error);
    if (!cs)
        return std::string(odbcString);
    const auto driver = cs->get("Driver");
    if (!driver || text::lowerAscii(*driver).find("postgres") == std::string::npos || cs->get("Protocol"))
        return std::string(odbcString);
    cs->set("Protocol", "7.4-0");
    return cs->toOdbc();
}

std::string maskPasswords(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t keyStart = i;
        while (i < text.size() && text[i] != '=' && text[i] != ';')
            ++i;
        const std::string_view key = text.substr(keyStart, i - keyStart);
        out.append(key);
        if (i >= text.size())
            break;
        if (text[i] == ';') {
            out += ';';
            ++i;
            continue;
        }
        out += '=';
        ++i;
        // The value, quoted or up to the next ';'.
        std::size_t valueStart = i;
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
            ++i;
        if (i < text.size() && (text[i] == '{' || text[i] == '"' || text[i] == '\'')) {
            const char close = text[i] == '{' ? '}' : text[i];
            ++i;
            while (i < text.size()) {
                if (text[i] == close) {
                    if (i + 1 < text.size() && text[i + 1] == close) {
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                ++i;
            }
        }
        while (i < text.size() && text[i] != ';')
            ++i;
        const std::string_view value = text.substr(valueStart, i - valueStart);
        if (isPasswordKey(key) && !text::trim(value).empty())
            out += "****";
        else
            out.append(value);
    }
    return out;
}

std::string maskSecret(std::string_view text, std::string_view secret)
{
    std::string out(text);
    if (secret.empty())
        return out;
    std::size_t pos = 0;
    while ((pos = out.find(secret, pos)) != std::string::npos) {
        out.replace(pos, secret.size(), "****");
        pos += 4;
    }
    return out;
}

std::int32_t defaultNumber(ErrorClass kind)
{
    switch (kind) {
    case ErrorClass::None:
        return 0;
    case ErrorClass::Connect:
    case ErrorClass::ConnectionLost:
    case ErrorClass::Internal:
        return kErrUnspecified;
    case ErrorClass::Rejected:
        return kErrRejected;
    case ErrorClass::Timeout:
        return kErrTimeout;
    case ErrorClass::Cancelled:
        return kErrCancelled;
    case ErrorClass::BadArgument:
        return kErrBadArgument;
    case ErrorClass::Usage:
        return kErrClosed;
    }
    return kErrUnspecified;
}

Error makeError(ErrorClass kind, std::string description, std::string source)
{
    Error e;
    e.kind = kind;
    e.number = defaultNumber(kind);
    e.description = std::move(description);
    e.source = std::move(source);
    return e;
}

} // namespace zs::db
