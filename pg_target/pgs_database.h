#pragma once
// The PostgreSQL databases seen through the neutral database interface.
//
// pgs_base_db: the common base of the live database (pgs_database, below)
// and the script-file database (pgs_dmp_database): handling of full table
// names (schema.table) that both use.
//
// pgs_database: one live database. When it is built it reads the tables it
// holds, its sequences, its views and the index names already in use in its
// schema; every statement runs in a short transaction of its own on the
// engine's connection. The client library stays out of this header.

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "UDB/udb_database.h"
#include "UDB/udb_failure.h"
#include "UDB/udb_schema.h"
#include "pg_target/pgs_table_finisher.h"
#include "pg_target/pgs_view_text.h"

class pgs_connection;
class pgs_indexes_initializer;
class pgs_schema_initializer;
class pgs_writer_pool;
class tk_exception;

// What became of a foreign key offered for creation while the run goes on
// (create_relationship_early).
enum class pgs_key_timing {
    handed_over,  // on the table finisher, after the steps given before for its table
    not_yet,      // its referenced table is still being finished: offer it again later
    at_the_end,   // left for create_relationships after the last table
};

class pgs_base_db : public udb_database {
public:
    pgs_base_db(std::wstring name, std::int32_t mode, bool case_sensitive);
    ~pgs_base_db() override;

    // schema.table: a name with a '.' is split at its first one, any other
    // name goes into "public"; the full name is appended to the table-name
    // list and returned. Case is kept.
    std::wstring add_full_name1(const std::wstring& name);
    // The name with "public." in front when it has no schema.
    static std::wstring get_full_name(const std::wstring& name);
    // schema + "." + table, or the table alone when the schema is empty.
    static std::wstring make_safe_tname(const std::wstring& table, const std::wstring& schema);
    // The quoted, schema-qualified name of DROP TABLE: "public"."t" for a bare
    // name, "s"."t" for s.t (folded unless names are case-sensitive).
    std::wstring get_safe_name(const std::wstring& name) const;

    // The table's name as the side's statements write it (pgs_engine::make_name3 with
    // split): folded unless names are case-sensitive, schema and table each quoted, a name
    // already quoted kept.
    std::wstring quote_table_name(const std::wstring& name) const override;
    // "column"='value' followed by a blank, or "column"=decode('digits','hex') for a binary
    // column, whose key value is hexadecimal digits (a leading 0x is dropped). The column's
    // name is quoted as it is, the value always a literal: a number compares as the
    // column's type reads it.
    std::wstring key_condition_term(const t_ftd& column, const std::wstring& value) const override;

    // A MySQL view text as PostgreSQL takes it (pgs_view_text): its names follow the names of
    // the run when they were given (set_view_names), otherwise they are folded unless names
    // are case-sensitive and quoted. Throws pgs_exception saying why a text cannot be carried
    // with its meaning (more than one statement, a backslash outside quotes, a quote or
    // comment left open, a name that cannot be resolved, ...).
    std::wstring refine_view_in(const std::wstring& definition) const;

    // The tables (and views) the views of create_views may read, under the names the run gave
    // them; each view created joins them, so the views after it read it by its own new name.
    // Without them a view's names are only folded and quoted.
    void set_view_names(std::unique_ptr<pgs_view_names> names);
    const pgs_view_names* view_names() const noexcept { return m_view_names.get(); }

    // One name (constraint, index, column) as one SQL identifier: a text already quoted is
    // kept, any other is folded unless names are case-sensitive and quoted, dots included.
    static std::wstring make_one_name(const std::wstring& name);

    // A field's name after the renames of its table: the field map of the table (looked up
    // exactly, then as the table creation recorded it: folded, with "public." added), the
    // field looked up exactly, then ignoring case; the field itself when nothing matches.
    // Renamed fields come back quoted.
    std::wstring get_mapped_field(const std::wstring& table, const std::wstring& field) const;
    // The same as an SQL identifier (make_one_name of the mapped name).
    std::wstring get_mapped_field_sql(const std::wstring& table, const std::wstring& field) const;

    // A foreign key's rule (ON DELETE / ON UPDATE clauses) goes into the statement as it
    // stands, so it may hold only words: letters, '_' and white space. Throws pgs_exception
    // naming the key otherwise. Returns the rule trimmed.
    static std::wstring checked_fk_rule(const udb_relationship& key);

    // The schema that create_views puts the views into, where the names of their texts are
    // looked up first (the tables' schema); empty or "public": the default.
    void set_view_schema(std::wstring schema) { m_view_schema = std::move(schema); }

    // When on, a table that create_table1/create_table2 creates gets its primary key and
    // indexes only from build_deferred_indexes(), after its rows, so loading the rows does
    // not maintain them row by row. A table that already exists is opened as it is, keys
    // and all. Off by default.
    void set_indexes_after_rows(bool on) noexcept { m_indexes_after_rows = on; }
    // Builds the indexes held back for the tables created since the last call (a refused
    // index is reported and the next one is built, as at creation). Where the database has a
    // table finisher they are handed to it and built while the next table loads; the
    // failures it met so far are reported here.
    void build_deferred_indexes();
    // Waits until every statement handed to the table finisher has run and reports its
    // failures. Call it before anything that needs the tables' keys (foreign keys, views)
    // and at the end of a run.
    void wait_for_deferred_work();
    // Forgets the indexes held back (their server is gone).
    void discard_deferred_indexes() noexcept;
    // A statement that finishes a table after its rows (step.sql; step.before is not run): on
    // the table finisher when there is one, otherwise run now. A refusal is reported as a
    // failure of step.kind naming step.what; a lost connection throws pgs_exception.
    void run_after_rows(pgs_finish_step step);

    // A foreign key whose two tables have their rows (`key` under the destination's names, its
    // rule checked; `what` names it in reports), created while later tables load: handed to
    // the table finisher when its referenced table is finished there (every step given for it
    // has run, none failed) and its referenced columns have a unique index of their own, so
    // the statement is the very one create_relationships would send, and no index is made for
    // it. It runs after the steps given before for its own table and one foreign key at a
    // time (two keys on each other's tables would each wait for the other's lock). A refusal
    // is reported by build_deferred_indexes() or wait_for_deferred_work() as
    // create_relationships reports it; a key the table has already is kept without a word; a
    // key the finisher could not run is handed back (take_returned_steps()). Live only: the
    // script and a database without a finisher answer at_the_end.
    virtual pgs_key_timing create_relationship_early(const udb_relationship& key, const std::wstring& what);
    // The objects (`what`) of the foreign keys handed back since the last call: their
    // connection broke while the server stayed, or the run stopped first. Not created.
    std::vector<std::wstring> take_returned_steps();
    // Hands back the foreign keys not started on the table finisher (a run that stops).
    void drop_returnable_steps();
    // Drops again the foreign keys the table finisher made (create_relationship_early), the
    // last made first, so a run that stops leaves no foreign key of its own, as one that made
    // them after the last table; a key that was there before the run stays. Call it after
    // wait_for_deferred_work(). A key the server does not let go is reported (kind
    // foreign_key); a lost connection throws pgs_exception without SQLSTATE.
    void take_back_early_keys();

protected:
    // Unquoted names fold only A-Z, as PostgreSQL folds them: "Ärger" and "ärger" are two
    // tables there, and a name that differs from a table's only in another letter's case
    // names no table.
    std::wstring fold_table_name(std::wstring_view name) const override;
    // Builds the indexes of a table just created by `table` now, or keeps both builders
    // for build_deferred_indexes(). `indexes` is read at once.
    void build_or_defer_indexes(std::unique_ptr<pgs_schema_initializer> table, const std::wstring& name,
                                const udb_indexes& indexes);
    // Sends the statement of one foreign key or view. The live database runs it (a refusal
    // passes to the caller); a script writes it so that a refusal when the script is loaded
    // becomes a warning naming `what` and the loading goes on. `unique_first`, when given, is
    // run before a second try of the statement when the server refuses it for want of a
    // unique key on the referenced columns; both stand or fall together.
    virtual void send_guarded(const std::wstring& statement, const std::wstring& what,
                              const std::wstring& unique_first = std::wstring());
    // Called for an object left out (after its report): a script notes it in a comment.
    virtual void note_left_out(const std::wstring& what, const std::string& reason);
    // Sends the indexes of a table just created (no finisher at hand); returns how many were
    // not created. The live database runs them (build_indexes); a script writes each guarded.
    virtual std::size_t write_indexes(pgs_indexes_initializer& indexes);

    // ALTER TABLE <child> ADD [CONSTRAINT <name>] FOREIGN KEY(<columns>) REFERENCES
    // <parent>(<columns>)[ <rule>], without a closing ';'. Columns follow the field maps of
    // child and parent.
    std::wstring make_fk_statement(const udb_relationship& key, const std::wstring& child,
                                   const std::wstring& parent, const std::wstring& rule) const;
    // CREATE SEQUENCE IF NOT EXISTS <name> INCREMENT i START s [MINVALUE m MAXVALUE x][ CYCLE];
    // bounds that were never given (both 0) are left to the server.
    static std::wstring make_sequence_statement(const udb_sequence& sequence);
    // The views of create_views, in order, each statement sent guarded (send_guarded). A view
    // gets a name of its own (the validator's safe name) when its name is not acceptable or
    // would land, folded and cut to 63 bytes, on a view made before it, a table of the run or
    // a relation of the PostGIS extension: CREATE OR REPLACE never replaces one of these.
    void create_views_by_query(const udb_view_list& views);
    // The thread that finishes tables after their rows while the next loads, made on first
    // use by make_table_finisher(); null where statements run at once, in order.
    pgs_table_finisher* table_finisher();
    virtual std::unique_ptr<pgs_table_finisher> make_table_finisher() { return nullptr; }

private:
    struct deferred_indexes {
        std::unique_ptr<pgs_schema_initializer> table;  // the columns and names the indexes use
        std::unique_ptr<pgs_indexes_initializer> indexes;
    };
    // Reports the finisher's failures, each under its own table (a step lost with the
    // finisher's connection too), and keeps the steps it handed back for
    // take_returned_steps(); when the server itself is gone, throws
    // pgs_connection_lost_exception instead.
    void report_finish_failures(std::vector<pgs_finish_failure> failures);

    bool m_indexes_after_rows = false;
    std::unique_ptr<pgs_table_finisher> m_finisher;
    bool m_finisher_started = false;
    std::vector<deferred_indexes> m_deferred;
    std::vector<std::wstring> m_returned;
    std::wstring m_view_schema;
    std::unique_ptr<pgs_view_names> m_view_names;
};

// A column as the catalog describes it: the descriptor plus the PostgreSQL
// type name of the column (information_schema data_type).
struct pgs_t_ftd : public t_ftd {
    pgs_t_ftd(std::uint32_t size, std::wstring name, VARTYPE vartype, bool not_null,
              std::string orig_type, bool auto_increment, const ole_variant& default_value,
              std::int32_t subtype);
    std::string orig_type;
};

// What depends on a table ($1: its oid) that overwriting it may drop, the same for the live
// database and the script: the foreign keys of other tables that refer to it (schema, table,
// key name), and the views that read it, directly or through other views (schema, name).
extern const char* const pgs_referring_keys_sql;
extern const char* const pgs_reading_views_sql;

class pgs_database : public pgs_base_db {
public:
    // Reads the table list (its failure is thrown), then the sequences and,
    // unless mode bit 0x80 is set, the views (their failures are only logged),
    // and tells the engine's index-name validator the index names of the
    // schema. An empty schema means every user schema.
    pgs_database(std::wstring name, std::wstring schema, std::int32_t mode, bool case_sensitive);
    ~pgs_database() override;

    void create_schema(const std::wstring& name) override;
    std::unique_ptr<udb_recordset> create_table1(const std::wstring& name, udb_schema& schema,
                                                 udb_indexes& indexes) override;
    std::unique_ptr<udb_recordset> create_table2(const std::wstring& name, udb_schema& schema,
                                                 udb_indexes& indexes,
                                                 const udb_partition& partition) override;
    void create_index(const std::wstring& table, const udb_index& index) override;
    // Before rows are merged into a table that already exists (Merge, Synchronize): gives it
    // the source's keys it lacks, so the rows that follow find the rows already there by them
    // and none is appended twice. `indexes` (the source's, naming the columns of `columns`)
    // are compared with the table's own by their columns, not their names: the primary key
    // and unique keys it lacks are added now, together in one transaction (when the table has
    // a primary key on other columns, the source's becomes a unique index); the other indexes
    // it lacks are built after its rows, as those of a table just made (build_deferred_indexes).
    // Call it before the table's recordset is opened: the recordset reads the key it merges on
    // from the catalog. A table whose columns do not conform to `columns` is left as it is.
    // A key the rows already there do not allow (duplicates) throws pgs_exception naming the
    // table and the key with the server's text and SQLSTATE; no key is added then. A lost
    // connection throws pgs_exception without SQLSTATE. Returns the number of keys added.
    std::size_t complete_keys_for_merge(const std::wstring& name, const udb_schema& columns,
                                        const udb_indexes& indexes);
    // DROP TABLE without CASCADE, in one transaction with the dependents the run makes again
    // (set_remade_relations): the foreign keys of those tables that refer to it and those
    // views that read it are dropped first. Any other dependent makes the whole drop fail
    // with the server's text naming it (pgs_exception); the table then stays as it was.
    bool delete_tab(const std::wstring& name) override;
    // The relations the run makes again, as the destination keeps them (schema, name: folded
    // and cut as the server keeps them): the tables it overwrites, the views it converts.
    void set_remade_relations(std::vector<std::pair<std::wstring, std::wstring>> relations);
    // A foreign key of another table that delete_tab dropped with the table it refers to:
    // the oid of its table then, the table (schema.name) and the key's name.
    struct dropped_key {
        std::uint32_t table_oid = 0;
        std::wstring table;
        std::wstring name;
    };
    // The keys delete_tab dropped whose table is still the one it was (the run could not
    // overwrite it) and has no key of that name now.
    std::vector<dropped_key> keys_lost_with_kept_tables();
    // Whether the table `table` (schema.name) already has the foreign key `name` to the table
    // `parent` of its schema, each named as the run's statements name them.
    bool has_foreign_key(const std::wstring& table, const std::wstring& name, const std::wstring& parent);
    std::unique_ptr<udb_recordset> get_query(const std::wstring& name, const std::wstring& sql_text,
                                             std::int32_t mode) override;
    void get_schema_info(std::vector<std::wstring>& schemas) override;
    std::unique_ptr<udb_recordset> get_table(const std::wstring& name, std::int32_t mode) override;
    // Runs the statement in its own transaction and commits it; errors of the
    // client library pass to the caller unchanged. Returns nullptr.
    std::unique_ptr<udb_recordset> query(const std::wstring& statement) override;
    // True when the statement runs; it is rolled back either way.
    bool test_query(const std::wstring& statement) override;

    // ALTER TABLE ... ADD [CONSTRAINT ...] FOREIGN KEY(...) REFERENCES ...(...) [rule] for each
    // key, tables and fields following the names map; the referenced columns first get a
    // unique index when none covers them (create_fk_index_if). The first key that fails ends
    // the operation with pgs_exception "Cannot create foreign key '<name>': <reason>"; keys
    // created before stay.
    void create_relationships(const std::vector<udb_relationship>& keys) override;
    // CREATE SEQUENCE IF NOT EXISTS per record; a failure is reported (kind sequence) and the
    // next follows.
    void create_sequences(const std::vector<udb_sequence>& sequences) override;
    // CREATE OR REPLACE VIEW per (name, SELECT text); texts that are not a SELECT are skipped,
    // names PostgreSQL refuses get a safe name (entered in the names map); a failure is
    // reported (udb_report_failure, kind view) and the next view follows.
    void create_views(const udb_view_list& views) override;
    // Makes sure the columns of the table (mapped through its field map) are covered by a
    // unique index, which PostgreSQL requires of a foreign key's referenced side: when the
    // first index that begins with them is not unique, is longer than the columns, or none
    // begins with them, CREATE UNIQUE INDEX. A missing table or a failure is only logged.
    void create_fk_index_if(const std::wstring& table, const std::vector<std::wstring>& columns);
    // The same; returns the schema-qualified name of the index it created, or "" when it
    // created none.
    std::wstring create_fk_index(const std::wstring& table, const std::vector<std::wstring>& columns);
    // True when create_fk_index would find the columns covered and make no index; false when
    // it would make one, the table is missing or its catalog cannot be read.
    bool has_fk_index(const std::wstring& table, const std::vector<std::wstring>& columns);
    pgs_key_timing create_relationship_early(const udb_relationship& key, const std::wstring& what) override;

    // The table list of the constructor: schema.table of each table found.
    void add_full_name2(const std::wstring& schema, const std::wstring& table);
    // (schema, table) of a name: "s"."t", s.t, or a bare name in the
    // database's schema (public when it has none).
    std::pair<std::wstring, std::wstring> split_name(const std::wstring& name) const;
    // One of the catalog tables pg_catalog.pg_* (exact, case-sensitive).
    static bool is_system_table(const std::wstring& name);
    void init_sequencies(const std::wstring& schema);
    void init_views(const std::wstring& schema);
    // UIDX_<fields joined by '_'>, with a five-digit counter when the
    // recordset already has an index of that name.
    static std::wstring gen_idx_name(const udb_recordset* recordset,
                                     const std::vector<std::wstring>& fields);

    const std::wstring& get_schema_name() const noexcept { return m_schema; }
    // The connection of this database's transactions (the engine's unless set).
    pgs_connection& connection() const;
    void set_connection(pgs_connection* conn) noexcept { m_connection = conn; }
    // The writer threads that store row batches of this database's tables on
    // connections of their own, started on first use; null on a single-core
    // machine, where every batch is stored on the main connection.
    pgs_writer_pool* writer_pool();

protected:
    std::unique_ptr<pgs_table_finisher> make_table_finisher() override;

private:
    std::unique_ptr<udb_recordset> create_table(const std::wstring& name, udb_schema& schema,
                                                udb_indexes& indexes, const udb_partition* partition);
    void read_tables(const std::wstring& schema);
    void register_index_names();
    // create_fk_index, or with `make` false only the look at the table: `covered` tells
    // whether the columns have an index of their own.
    std::wstring fk_index(const std::wstring& table, const std::vector<std::wstring>& columns, bool make,
                          bool& covered);

    std::wstring m_schema;
    pgs_connection* m_connection = nullptr;  // not owned
    std::unique_ptr<pgs_writer_pool> m_writers;
    bool m_writers_started = false;
    std::vector<std::pair<std::wstring, std::wstring>> m_remade;
    std::vector<dropped_key> m_dropped_keys;
};
