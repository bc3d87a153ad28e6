#pragma once
// The PostgreSQL script file as a destination: a database object with the interface of the
// live database that writes every statement it is asked for into a text file (UTF-8), which
// the user later runs against a server (for example with psql -f). The CREATE TABLE and index
// builders hand their statements to query(), exactly as for the live database; the rows of a
// table go through the pgs_dmp_recordset that create_table1 returns.
//
// A script whose options may keep existing tables (pgs_dump_options::existing_tables other
// than replace) decides what to do with a table when it is loaded, and drops nothing with
// CASCADE. Keep, merge and synchronize never drop a table; they ask whether it is there:
//   SELECT to_regclass('"s"."t"') IS NULL AS quindrel_new_<n> \gset
//   \if :quindrel_new_<n>  CREATE TABLE, defaults  \endif
//   rows into a temporary table (COPY or INSERT, outside any \if: psql reads COPY data as
//   SQL in a branch it skips)
//   \if :quindrel_new_<n>  the rows into the new table  [\else the merge]  \endif
//   \if :quindrel_new_<n>  NOT NULL, indexes  \endif
// and, with keep, each foreign key only of a table the script created. The merge (a DO block)
// adds the rows with INSERT ... ON CONFLICT (key) DO NOTHING (synchronize: DO UPDATE), all
// at once and, when the server refuses any, one row at a time, each refused row a WARNING
// naming it; a table that does not fit the rows (a column missing, no such key) is one
// WARNING and keeps its rows.
// Overwrite (mode 1) first tries to drop the table without CASCADE, taking along only what
// the script makes again (pg_temp.quindrel_overwrite; set_remade_relations): the foreign keys
// of its tables that refer to it and the views it converts that read it. Anything else that
// depends on the table keeps it as it was, with a WARNING holding the server's text naming
// those objects; the variable then says the table is there, and its rows go by COPY or
// INSERT (outside any \if) into a temporary table that is thrown away:
//   SELECT ... AS quindrel_new_<n>, ... AS quindrel_into_<n> FROM pg_temp.quindrel_overwrite(...) \gset
//   \if :quindrel_new_<n>  CREATE TABLE, defaults  \endif
//   COPY :quindrel_into_<n>(...) FROM stdin; ...
//   \if :quindrel_new_<n>  sequence, NOT NULL, indexes  \endif
// A foreign key is made again where the script dropped it: when its table or the table it
// refers to was overwritten.
// So psql -v ON_ERROR_STOP=1 loads such a script to its end.
// psql 10 or later reads it.
//
// Every write is checked: a file that cannot be opened or written is a level-1 tk_exception.
// The recordsets write through the database's writer and must be destroyed before it; the
// run should call close() at the end so that a failure of the last writes is reported (the
// destructor can only trace it).
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "pg_target/pgs_database.h"
#include "pg_target/pgs_dump_options.h"
#include "pg_target/pgs_script_writer.h"

class pgs_dmp_database : public pgs_base_db {
public:
    // Opens (creates or truncates) the file and writes the header comment and, when asked
    // for, the database line. tk_exception (level 1) when the file cannot be opened.
    pgs_dmp_database(const std::wstring& path, const pgs_dump_options& options);
    ~pgs_dmp_database() override;

    // The schema block (CREATE SCHEMA when missing); nothing for "public".
    void create_schema(const std::wstring& name) override;
    // Comments, DROP TABLE, CREATE TABLE, its column defaults (each guarded, so a default the
    // loading server refuses is a warning, not the end of the script), indexes (after the rows
    // when the database defers them); returns the recordset for the rows.
    // tk_exception (level 1) for a table already written into this script.
    std::unique_ptr<udb_recordset> create_table1(const std::wstring& name, udb_schema& schema,
                                                 udb_indexes& indexes) override;
    std::unique_ptr<udb_recordset> create_table2(const std::wstring& name, udb_schema& schema,
                                                 udb_indexes& indexes, const udb_partition& partition) override;
    void create_index(const std::wstring& table, const udb_index& index) override;
    // ALTER TABLE ... ADD [CONSTRAINT ...] FOREIGN KEY ... per key (no index is written), each
    // guarded (send_guarded) so that a key the server refuses when the script is loaded is a
    // warning and the others still go in; tables follow the table map, fields the field maps
    // of the tables this script created. A key with no rule gets none (the server's default,
    // NO ACTION). pgs_exception for a rule that is not made of words; keys written before stay.
    void create_relationships(const std::vector<udb_relationship>& keys) override;
    // A heading, then CREATE SEQUENCE IF NOT EXISTS per record.
    void create_sequences(const std::vector<udb_sequence>& sequences) override;
    // CREATE OR REPLACE VIEW per (name, SELECT text), as the live database does.
    void create_views(const udb_view_list& views) override;
    // ALTER TABLE <table as given> DROP CONSTRAINT <name>.
    void delete_fk(const udb_relationship& key) override;
    using pgs_base_db::delete_fk;
    void delete_idx(const std::wstring& table, const udb_index& index) override;
    void delete_idx(const std::wstring& table, const std::wstring& index_name) override;
    // Writes DROP TABLE; true when the table had been written into this script (it is
    // then forgotten, so create_table1 may write it again).
    bool delete_tab(const std::wstring& name) override;
    // A script has no queries to read: nullptr.
    std::unique_ptr<udb_recordset> get_query(const std::wstring& name, const std::wstring& sql_text,
                                             std::int32_t mode) override;
    // Nothing can be read back from a script: internal error.
    std::unique_ptr<udb_recordset> get_table(const std::wstring& name, std::int32_t mode) override;
    // Writes the statement followed by ";\r\n"; returns nullptr.
    std::unique_ptr<udb_recordset> query(const std::wstring& statement) override;
    bool test_query(const std::wstring& statement) override;  // false

    // Flushes and closes the file; tk_exception (level 1) when a write or the close failed.
    void close();

    pgs_script_writer& writer() noexcept { return m_out; }
    const pgs_dump_options& options() const noexcept { return m_options; }

    // Writes text (already UTF-8) unchanged; checked.
    void write(std::string_view utf8) { m_out.write(utf8); }

    // The relations the script makes again, as the database they are loaded into keeps them
    // (schema, name: folded and cut as the server keeps them): the tables it overwrites and
    // the views it converts. Overwriting drops with a table only those of them that depend
    // on it. Written once, before the first table; nothing unless overwriting. A name the
    // script's encoding cannot hold is left out of the list (its table cannot be written
    // either).
    void set_remade_relations(const std::vector<std::pair<std::wstring, std::wstring>>& relations);

    // Whether an existing table may be kept (no DROP TABLE that could take what the script
    // does not make again; see above).
    bool keeps_existing_tables() const noexcept
    {
        return m_options.create_tables && m_options.existing_tables != pgs_existing_table::replace;
    }
    // The conditional block of the table being written (what is written only when the script
    // creates the table): ended before its rows and before anything outside the table,
    // opened again after its rows. Nothing without keeps_existing_tables().
    void end_table_block();
    void reopen_table_block();

protected:
    // DO block that runs the statement and turns a refusal into a WARNING naming `what`, so a
    // script loaded with ON_ERROR_STOP goes on with the next key or view.
    void send_guarded(const std::wstring& statement, const std::wstring& what,
                      const std::wstring& unique_first = std::wstring()) override;
    // A comment line saying what was left out and why.
    void note_left_out(const std::wstring& what, const std::string& reason) override;
    // Each index of a table this script has just created, guarded: a refusal while the script
    // loads is a warning naming the index, and the loading goes on. No DROP INDEX goes before
    // it (dropping the table took its own indexes; any other index of that name is another
    // table's), and when another relation of the schema already has the index's name, the
    // server names the index itself. An index that names a column the table lacks is
    // reported and counted here.
    std::size_t write_indexes(pgs_indexes_initializer& indexes) override;

private:
    std::unique_ptr<udb_recordset> write_table(const std::wstring& name, udb_schema& schema,
                                               udb_indexes& indexes, const udb_partition* partition);
    void write_comment(const char* heading, const std::wstring& table);
    // The PL/pgSQL statements that run `statement`, and when the server wants a unique key on
    // the referenced columns first, `unique_first` and the statement again.
    static std::wstring guarded_body(const std::wstring& statement, const std::wstring& unique_first);
    // DO block running `body` (PL/pgSQL statements); any refusal in it becomes a WARNING
    // "<what> was not created: <server's text>".
    void write_guarded(const std::wstring& body, const std::wstring& what);
    // Position of the table in the list of tables written into this script, or -1.
    int find_written(const std::wstring& name) const;

    // The psql variable that says whether the table named is created by the script; empty
    // when it is not known.
    std::string table_variable(const std::wstring& name) const;
    // Overwriting: the list of relations made again and the function that drops a table
    // together with those of them that depend on it; written once, before the first table.
    void write_overwrite_function();
    // Overwriting: the foreign key's statement, written only where the script dropped it (its
    // table or the table it refers to was overwritten).
    void write_overwritten_key(const udb_relationship& key, const std::wstring& sql, const std::wstring& what,
                               const std::wstring& unique_first);

    pgs_dump_options m_options;
    pgs_script_writer m_out;
    // Keeping existing tables: the variable of the table being written, whether its block is
    // open, and the variable of each table written (folded full name, variable).
    std::string m_block_variable;
    bool m_block_open = false;
    std::vector<std::pair<std::wstring, std::string>> m_table_variables;
    // Overwriting: the function and the list are in the script.
    bool m_overwrite_ready = false;
};
