#pragma once
// The PostgreSQL forms of the mutators: field, table and database mutators
// over pgs_native_type, whose type texts, value kinds and default expressions
// come from the PostgreSQL type mapping. All mutators of the system are these.

#include "UDB/udb_db_mutator.h"
#include "UDB/udb_mutator.h"
#include "pg_target/pgs_types.h"

// What the generic mutators ask of the PostgreSQL type mapping.
template <>
struct udb_native_type_traits<pgs_native_type> {
    // The kind in which values of the type travel.
    static VARTYPE udb_type(const pgs_native_type& native);
    // The full type text: VARCHAR(n), DECIMAL(p,s) or the name unchanged.
    static std::wstring type_text(const pgs_native_type& native);
    // The default type name of a source column, without size.
    static std::wstring name_only_type(const t_ftd& column);
    // The DEFAULT expression of a source column's default value (empty: none).
    static std::wstring default_expression(const t_ftd& column);
};

class pgs_field_mutator : public udb_field_mutator<udb_field, pgs_native_type> {
public:
    using udb_field_mutator::udb_field_mutator;
};

class pgs_table_mutator : public udb_table_mutator<pgs_field_mutator> {
public:
    using udb_table_mutator::udb_table_mutator;
};

// Names of the type-map files: for each source type the PostgreSQL types it
// may map to, and for each PostgreSQL type which sizes it takes.
inline constexpr char pgs_map[] = "pgs.map";
inline constexpr char pgs_typ[] = "pgs.typ";

// The database mutator of the system (the conversion object derives from it).
using pgs_db_mutator = udb_db_mutator<pgs_table_mutator, pgs_map, pgs_typ>;
extern template class udb_db_mutator<pgs_table_mutator, pgs_map, pgs_typ>;
