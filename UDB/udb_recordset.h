#pragma once
// One table or query of an open database as a cursor over records that can
// also append, update and delete rows. It carries the table's schema, its
// index list and which index is the table's key. A recordset is created by its
// database and owned by the caller; it keeps a plain pointer to the database,
// which must outlive it.
//
// Reading: reset() once, then while (!is_eof()) { get_item(); next(); }. The
// record get_item returns belongs to the recordset and stays valid until the
// cursor moves.

#include <cstdint>
#include <memory>
#include <string>

#include "UDB/udb_index.h"
#include "UDB/udb_record.h"
#include "UDB/udb_schema.h"
#include "TK/tk_exception.h"

// A row the destination table cannot take by its shape (a field without a column, a column
// that no field fills): a fault of the table, not of one value. Level 0; a run fails the
// item with it once instead of failing every row.
class udb_structure_exception : public tk_exception {
public:
    udb_structure_exception()
        : tk_exception("The structure of data source does not conform to the destination table.", 0)
    {
    }
};

class udb_database;

class udb_recordset {
public:
    // A query recordset (is_query() is true when sql_text is not empty).
    udb_recordset(udb_database* database, std::wstring name, std::wstring sql_text, int schema_mode = 0);
    // A table recordset.
    udb_recordset(udb_database* database, std::wstring name);
    udb_recordset(udb_database* database, std::wstring name, int schema_mode);
    // No database.
    explicit udb_recordset(std::wstring name);
    udb_recordset(const udb_recordset&) = delete;
    udb_recordset& operator=(const udb_recordset&) = delete;
    virtual ~udb_recordset();

    // Writes one row; the record stays the caller's.
    virtual void append_record(udb_record& record) = 0;
    // Updates the row that the key text selects (base: nothing).
    virtual void update2(udb_record& record, const std::wstring& key);
    // Updates the row with the record's key (base: nothing).
    virtual void update1(udb_record& record);
    // The current record, owned by the recordset, or nullptr (base: nullptr).
    virtual udb_record* get_item();
    virtual bool is_eof();  // base: true
    bool is_query() const noexcept { return !sql_text.empty(); }
    virtual void move_to(std::int32_t position);
    virtual void next();
    virtual void prev();
    virtual void reset();
    // Deletes the row that the key text selects (base: nothing).
    virtual void delete_key(const std::wstring& key);
    // Deletes the row with the record's key (base: nothing).
    virtual void delete_key(udb_record& record);

    // A new record of copies of the record's key fields (the key index's
    // fields, in index order), owned by the caller; nullptr when the record
    // lacks a key field. tk_exception "There's no primary/unique key" (level 1)
    // when the recordset has no key index.
    std::unique_ptr<udb_record> get_key(const udb_record& record) const;

    // A WHERE condition from a key text (see udb_record_key.h): for each element the term
    // "column=value" that the recordset's database spells for the column of that name and the
    // decoded value (udb_database::key_condition_term), terms joined by " and "; an empty key
    // text gives an empty condition. udb_key_text_exception for a malformed key text;
    // udb_structure_exception "The structure of data source does not conform to the
    // destination table." (level 0) for a name that is no column; an internal error for a
    // recordset without a database.
    virtual std::wstring get_filter_subquery(const std::wstring& key);

    // Adds an index read from the table, keeping the key position: a primary
    // key always becomes the key, else the first unique index. A name already
    // listed (ignoring case) is dropped.
    void add_index(const udb_index& index);

    const std::wstring& get_sql_text() const noexcept { return sql_text; }
    const std::wstring& get_name() const noexcept { return name; }
    std::int32_t get_key_pos() const noexcept { return key_pos; }
    // The position of the key index in the index list, or -1 for none (any negative value
    // counts as none). A caller that rewrites the index list (a table mutator drops indexes
    // whose columns were left out) stores the position that follows the key index there.
    void set_key_pos(int pos) noexcept { key_pos = pos < 0 ? -1 : std::int32_t(pos); }
    udb_schema& get_schema() noexcept { return schema; }
    const udb_schema& get_schema() const noexcept { return schema; }
    udb_indexes& get_indexes() noexcept { return indexes; }
    const udb_indexes& get_indexes() const noexcept { return indexes; }
    udb_database* get_database() const noexcept { return database; }
    std::uint64_t get_record_count() const noexcept { return record_count; }
    void set_record_count(std::uint64_t count) noexcept { record_count = count; }

protected:
    std::wstring sql_text;
    std::wstring name;
    std::int32_t key_pos = -1;
    udb_schema schema;
    udb_indexes indexes;
    udb_database* database = nullptr;  // not owned
    std::uint64_t record_count = 0;    // readers set it, writers count appended rows
};
