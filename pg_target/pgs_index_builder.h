#pragma once
// The indexes of one table, once the table exists: the primary key becomes ALTER TABLE ... ADD
// CONSTRAINT ... PRIMARY KEY, every other index CREATE [UNIQUE] INDEX, each preceded by a
// schema-qualified DROP INDEX IF EXISTS of its name. Index names are made unique across the
// destination through the index-name validator (which also knows the names already in the
// destination schema); column names follow the CREATE TABLE builder's renames. An index that
// names a column the table lacks is skipped and reported; a failed index is reported and the
// next one is built.
#include <string>
#include <utility>
#include <vector>

#include "UDB/udb_database.h"
#include "UDB/udb_index.h"
#include "UDB/udb_names_map.h"
#include "UDB/udb_schema.h"
#include "pg_target/pgs_table_builder.h"
#include "pg_target/pgs_table_finisher.h"
#include "pg_target/pgs_validators.h"

class pgs_indexes_initializer {
public:
    // columns: the final columns of the CREATE TABLE builder; names: its name map (source name
    // -> final name). Both must outlive the builder. validator: the destination's index-name
    // validator (the engine's); the overload without it uses the process-wide instance.
    pgs_indexes_initializer(std::wstring table, const udb_schema& columns, const udb_indexes& indexes,
                            const t_names_map& names, pgs_in_validator& validator,
                            const pgs_ddl_settings& settings);
    pgs_indexes_initializer(std::wstring table, const udb_schema& columns, const udb_indexes& indexes,
                            const t_names_map& names);

    pgs_indexes_initializer(const pgs_indexes_initializer&) = delete;
    pgs_indexes_initializer& operator=(const pgs_indexes_initializer&) = delete;

    // Sends DROP INDEX IF EXISTS and the index statement of every converted index. An index
    // that cannot be created is reported and counted (udb_report_failure, kind index) and the
    // next one follows; returns how many were not created. A lost connection throws.
    std::size_t build_indexes(udb_database& db);

    // The same work as steps for a table finisher, one per converted index, in order. An
    // index that names a column the table lacks has an empty statement: the caller reports
    // it (unbuildable_failure()) instead of running it. side_by_side: for a finisher with
    // more than one connection, the indexes may be built at the same time; the primary key
    // is then its unique index, built beside the others, and a last step that makes the key
    // of it.
    std::vector<pgs_finish_step> finish_steps(bool side_by_side = false) const;
    static const char* unbuildable_reason() noexcept
    {
        return "it names a column the table does not have; it was not created";
    }
    // The failure of a step whose index names a column the table lacks.
    static udb_failure unbuildable_failure(const pgs_finish_step& step);

    // The converted indexes: final names, fields translated to final column names.
    const udb_indexes& get_indexes() const noexcept { return m_indexes; }

    // The statement of one converted index, or empty when it names a column the table lacks.
    std::wstring make_index_statement(const udb_index& index) const;
    // DROP INDEX IF EXISTS "schema"."name" (the table's schema, public when it has none).
    std::wstring make_drop_statement(const udb_index& index) const;

    // What of the source's indexes arrives only in part, as (object, text) for the caller to
    // report: a primary key on a prefix becomes a unique index.
    std::vector<std::pair<std::wstring, std::string>> not_carried() const;

    // An index element: the column's final name, or the expression of its indexed prefix
    // (left() of a text, the leading bytes of a bytea).
    static std::wstring prefix_expression(const t_ftd& column, std::uint32_t prefix);

private:
    std::wstring m_table;
    udb_indexes m_indexes;
    const udb_schema& m_columns;
    const t_names_map& m_names;
    pgs_ddl_settings m_settings;
};
