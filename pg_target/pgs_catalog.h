#pragma once
// Readers of the destination's catalog that the live database runs when it is
// opened: its sequences, its views and the index names already in use. An
// empty schema means every user schema (names then come back as
// schema.name); a given schema restricts the reading to it (bare names).
//
// pg_target only: takes the live connection.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

class pgs_connection;

struct pgs_sequence_row {
    std::wstring name;
    std::int32_t start = 0;
    std::int32_t minimum = 0;
    std::int32_t maximum = 0;
    std::int32_t increment = 0;
    bool cycle = false;
};

// Library errors are thrown as pgs_exception.
std::vector<pgs_sequence_row> pgs_read_sequences(pgs_connection& conn, const std::wstring& schema);

// (view name, definition) pairs; the definition is trimmed of blanks and
// has the boolean words and the common casts rewritten as the script side
// expects them.
std::vector<std::pair<std::wstring, std::wstring>> pgs_read_views(pgs_connection& conn,
                                                                  const std::wstring& schema);

// Names of the indexes (constraints' indexes included) of the schema, or of
// every user schema when it is empty.
std::vector<std::wstring> pgs_read_index_names(pgs_connection& conn, const std::wstring& schema);

// Names of every relation (tables, indexes, views, sequences ...) of the schema, or of every
// user schema when it is empty: one name space, so a new index must avoid all of them.
std::vector<std::wstring> pgs_read_relation_names(pgs_connection& conn, const std::wstring& schema);

// A catalog number as a signed 32-bit value: empty or non-numeric text gives
// 0, values outside the range saturate.
std::int32_t pgs_catalog_int32(const char* text);

// The view-definition rewriting of pgs_read_views, on its own.
std::wstring pgs_clean_view_definition(std::wstring definition);
