#pragma once
// The annotated XSD mapping schema of the XML import: which elements become rows of which
// tables and which attributes or child elements fill which columns. Loaded once per import
// step by ImportXml, and read by the row loading (XmlRowLoader).

#include <cstddef>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace zs::engine {

/// The annotated XSD mapping schema, as far as the import understands it: element
/// declarations mapped to tables (sql:relation), attributes and simple child elements to
/// columns (sql:field, sql:mapped), nested element declarations, parent/child relationships
/// (sql:relationship naming a relationship declared in an annotation, which fills the child's
/// key columns from its parent's row) and the parent's key fields (sql:key-fields). Any other
/// annotation, and any schema construct that would leave data unmapped without saying so, is
/// refused by name when the schema is loaded.
struct XmlMapping {
    struct Field {
        std::string name;   ///< attribute or child element (local name)
        std::string column; ///< sql:field, else the name
        bool attribute = false;
        std::size_t slot = 0; ///< index into Node::columns
    };
    struct Node {
        std::string name;                 ///< element local name
        std::string table;                ///< empty: a container, not a row
        std::vector<std::string> columns; ///< every column a row of this node sets
        std::vector<Field> fields;
        std::vector<std::size_t> children; ///< nested element nodes
        /// Filled from the parent row: (parent's slot, this node's slot) pairs.
        std::vector<std::pair<std::size_t, std::size_t>> link;
        std::string relationship; ///< the relationship's name, for messages
    };
    std::vector<Node> nodes;
    std::vector<std::size_t> roots; ///< the schema's global element declarations

    /// Reads a schema file. False with a reason when it cannot be read, maps nothing, or uses an
    /// annotation or construct the import does not support.
    bool load(const std::filesystem::path& schema, std::string& reason);
};

} // namespace zs::engine
