#pragma once
// The parts of the statements that find rows of a live table by key: UPDATE
// ... SET ... WHERE and DELETE ... WHERE built from a record, and the ON
// CONFLICT clause of an INSERT that replaces a row whose key exists. Values
// are SQL literals typed by the field's own value (to_pgs_str), names are
// quoted; the record's field names are matched with the columns as the field
// validator makes them safe, folded first where names are not case-sensitive
// (fold).

#include <string>
#include <vector>

class udb_record;
class udb_schema;

struct pgs_update_parts {
    std::wstring sets;   // "c"=v, ... for the fields outside the key
    std::wstring where;  // "k"=v AND ... for the key's fields; empty when the record has none
};

// Every field must name a column: one that does not throws udb_structure_exception.
pgs_update_parts pgs_update_by_record(const udb_record& record, const udb_schema& columns,
                                      const std::vector<std::wstring>& key, bool fold);

// The SET list of the fields outside the key; fields that name no column are left out.
std::wstring pgs_update_sets(const udb_record& record, const udb_schema& columns,
                             const std::vector<std::wstring>& key, bool fold);

// "c"=v AND ... of every field that names a column (the others are left out).
std::wstring pgs_delete_condition(const udb_record& record, const udb_schema& columns, bool fold);

// " ON CONFLICT (key) DO UPDATE SET c = EXCLUDED.c, ..." over the columns the
// record's fields fill (column_of_field, -1 for none) outside the key; DO
// NOTHING when only key columns are filled.
std::string pgs_conflict_update_clause(const std::vector<std::wstring>& key, const udb_schema& columns,
                                       const std::vector<int>& column_of_field);

// " ON CONFLICT (key) DO NOTHING": only a row whose key exists is passed over; a
// row that collides with another unique index of the table is still refused
// (23505), so a merge never hides it.
std::string pgs_conflict_skip_clause(const std::vector<std::wstring>& key);

// The same clauses over names already quoted (key_idents, column_idents):
// replace false gives DO NOTHING, replace true DO UPDATE SET each column
// outside the key (DO NOTHING when there is none). Empty for an empty key.
std::string pgs_conflict_clause(bool replace, const std::vector<std::string>& key_idents,
                                const std::vector<std::string>& column_idents);
