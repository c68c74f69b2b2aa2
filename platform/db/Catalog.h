#pragma once
// The catalog the database builder works through: attach to a database, create a database,
// ask whether a table of exactly a name exists, and create a table from its definition
// (columns with type, size, nullability and auto-increment; a named primary key).

#include "db/Connection.h"

#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace zs::db {

/// Column types, numbered as the creation XML's builder knows them.
enum class ColumnType { Integer = 3, Double = 5, Date = 7, Boolean = 11, WChar = 130, Timestamp = 135, VarWChar = 202 };

struct ColumnDef {
    std::string name;
    ColumnType type = ColumnType::VarWChar;
    std::optional<int> size; ///< characters, for the text types (255 when not given)
    bool nullable = true;
    bool autoIncrement = false;
};

struct KeyDef {
    std::string name;
    std::vector<std::string> columns;
};

struct TableDef {
    std::string name;
    std::vector<ColumnDef> columns;
    std::optional<KeyDef> primaryKey;
};

class Catalog {
  public:
    /// Opens the database of `connectionString`. False with errors() when it cannot.
    [[nodiscard]] bool attach(const std::string& connectionString);
    /// Creates the database of `connectionString` and attaches to it: a new SQLite file (an
    /// existing file is refused), or CREATE DATABASE on the server named by the string's
    /// Database item, run from the server's maintenance database.
    [[nodiscard]] bool create(const std::string& connectionString);
    void close() { m_connection.close(); }

    /// Whether the attached database holds a table or view of exactly `name` (case counts; on
    /// PostgreSQL a plain name is first folded to lower case, as the server stores it).
    /// Nothing when the question cannot be answered (errors()).
    [[nodiscard]] std::optional<bool> tableExists(std::string_view name);
    /// The name under which the attached database keeps a table created as `name` (on
    /// PostgreSQL a plain name folded to lower case), as tableNames() gives it.
    std::string storedName(std::string_view name) const;
    /// The attached database's tables and views as it stores their names, for asking about
    /// many names with one listing. Nothing when they cannot be read (errors()).
    [[nodiscard]] std::optional<std::unordered_set<std::string>> tableNames();
    /// Creates the table. False with errors() when the database refuses it.
    [[nodiscard]] bool createTable(const TableDef& table);

    /// The statements createTable runs for `dialect`.
    static std::vector<std::string> createTableSql(const TableDef& table, Dialect dialect);

    Connection& connection() { return m_connection; }
    const ErrorList& errors() const { return m_errors.empty() ? m_connection.errors() : m_errors; }

  private:
    Connection m_connection;
    ErrorList m_errors;
};

} // namespace zs::db
