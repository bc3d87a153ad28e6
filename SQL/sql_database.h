#pragma once
// One database of the server the engine is connected to. Built by sql_engine::open_db: reads
// the names of its base tables and (unless mode bit 0x80 is set) its views with their cleaned
// definitions; hands out recordsets over tables and SQL texts and runs single statements.
// Table names are compared ignoring case. Every statement runs on the engine's one connection,
// which the database does not own.
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "UDB/udb_database.h"

struct st_mysql;
class sql_tmp_recordset;
class udb_record;
class udb_field;

class sql_database : public udb_database {
public:
    static constexpr std::int32_t mode_read_only = 0x01;
    static constexpr std::int32_t mode_no_views = 0x80;
    static constexpr std::int32_t mode_replace = 0x100;
    static constexpr std::int32_t mode_append = 8;

    sql_database(const std::wstring& name, st_mysql* connection, std::int32_t mode);
    ~sql_database() override;

    std::unique_ptr<udb_recordset> create_table1(const std::wstring& name, udb_schema& schema,
                                                 udb_indexes& indexes) override;
    void create_views(const udb_view_list& views) override;
    bool delete_tab(const std::wstring& name) override;
    void empty_table(const std::wstring& name) override;
    std::unique_ptr<udb_recordset> get_query(const std::wstring& name, const std::wstring& sql_text,
                                             std::int32_t mode) override;
    // tk_exception (level 0) naming the table when it is not in the table list.
    std::unique_ptr<udb_recordset> get_table(const std::wstring& name, std::int32_t mode) override;
    // A recordset over the statement's result, or nullptr for a statement without one;
    // sql_exception (with the statement) when the server rejects it.
    std::unique_ptr<udb_recordset> query(const std::wstring& statement) override;
    // Whether the server accepts the statement: it is prepared, never run, so a DELETE typed
    // into a query test changes nothing.
    bool test_query(const std::wstring& statement) override;
    // Why the server refuses to prepare the statement (its own message), or "" when it
    // prepares it; the statement is never run.
    std::string prepare_refusal(const std::wstring& statement);
    // Creates each foreign key (with an index on its columns where none begins with them);
    // a key that fails is reported and counted (udb_report_failure) and the next one follows. The
    // tables locked for a key are unlocked again and the session's foreign key checks are put
    // back as they were, whatever happens.
    void create_relationships(const std::vector<udb_relationship>& keys) override;
    // Drops the foreign key by its name from its table; sql_exception when the server refuses.
    void delete_fk(const udb_relationship& key) override;
    using udb_database::delete_fk;

    // Adds an index on the columns unless an index of the table begins with them; a failure
    // of the server is only traced.
    void create_fk_index_if(const std::wstring& table, const std::vector<std::wstring>& columns);
    // Runs a statement (UTF-8) that yields no rows; sql_exception when the server refuses it.
    void query_append(const std::string& utf8_statement);
    // Runs the statement with one "?" per field of the row whose data size is above
    // sql_long_data_threshold, those values sent as long data in chunks of
    // long_data_chunk units (bytes of a byte array; characters of a text, sent as UTF-8).
    // sql_prep_stmt_failed_exception when the statement interface fails; the statement
    // handle is closed on every path.
    void prepared_statement(const std::string& utf8_statement, const udb_record& row, std::int32_t placeholders);
    // The same with the fields in placeholder order (a statement whose columns follow the
    // table's order rather than the row's).
    void prepared_statement(const std::string& utf8_statement, const std::vector<const udb_field*>& fields,
                            std::int32_t placeholders, std::uint64_t row_size);
    static constexpr std::uint32_t long_data_chunk = 131072;

    // The same as query(), typed, for the engine's own catalogue reads.
    std::unique_ptr<sql_tmp_recordset> run_query(const std::string& utf8_statement);

    void init_tables();
    void init_views();
    // The foreign keys between this database's own tables as (table, referenced table) pairs,
    // read from the server's catalogue without opening any table, so the tables can be loaded
    // parents first. sql_exception when the server refuses the read.
    std::vector<std::pair<std::wstring, std::wstring>> read_table_references();
    // A view definition read from MySQL without its first comment and the database prefixes.
    std::wstring refine_view_out(const std::wstring& text) const;
    // A view text from another dialect made MySQL's.
    std::wstring refine_view_in(const std::wstring& text) const;

    st_mysql* get_connection() const noexcept { return connection; }

    // `name` (backticks doubled): a dot stays inside the one name.
    std::wstring quote_table_name(const std::wstring& name) const override;
    // `column`=value as sql_sync writes it.
    std::wstring key_condition_term(const t_ftd& column, const std::wstring& value) const override;

private:
    st_mysql* connection;
};

// Stateless helpers of the view-text rewriting.
struct sql_view_converter {
    // Whether the call at `pos` (its name 6 characters long) has exactly two arguments.
    static bool check_isnull_for_replace(const std::wstring& text, std::int32_t pos);
    // Runs of blanks, tabs and line ends outside quotes become one blank.
    static std::wstring collapse_white_space(const std::wstring& text);
};
