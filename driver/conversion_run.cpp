// The conversion run: the source database, the destination, then one work item
// after the other (custom queries and tables), each created by the mode for an
// existing destination and filled row by row. Errors are caught at three
// depths: the row (by mode), the item (reported, the run goes on) and the
// whole run (reported, the run ends).
#include "driver/conversion_run.h"

#include <algorithm>
#include <ctime>
#include <functional>
#include <unordered_set>

#include "SQL/sql_database.h"
#include "SQL/sql_engine.h"
#include "SQL/sql_exception.h"
#include "TK/tk_format.h"
#include "TK/tk_log.h"
#include "TK/tk_strings.h"
#include "driver/conversion_relations.h"
#include "driver/error_handler.h"
#include "driver/frontend_hooks.h"
#include "driver/pelmora_convertor.h"
#include "pg_target/pgs_database.h"
#include "pg_target/pgs_dmp_recordset.h"
#include "pg_target/pgs_defaults.h"
#include "pg_target/pgs_dump.h"
#include "pg_target/pgs_encoding.h"
#include "pg_target/pgs_exception.h"
#include "pg_target/pgs_quote.h"
#include "pg_target/pgs_recordset.h"
#include "pg_target/pgs_validators.h"
#include "pg_target/pgs_value_text.h"

namespace {

void log_time(const char* format)
{
    std::time_t now = std::time(nullptr);
    std::tm t{};
    localtime_r(&now, &t);
    tk_write_log(3, format, t.tm_mday, t.tm_mon + 1, t.tm_year + 1900, t.tm_hour, t.tm_min, t.tm_sec);
}

// Reports through the error handler; without one (a library user that built
// none) the error only reaches the trace log.
void report(const tk_exception& e, bool top_level)
{
    if (error_handler* eh = error_handler::try_instance())
        eh->handle(e, top_level);
    else
        tk_write_log(3, "Error:\n%s", e.what());
}

// A failure of the run from an exception; a pgs_exception keeps the server's SQLSTATE and
// statement.
udb_failure failure_of(udb_failure_kind kind, const std::wstring& table, const tk_exception& e,
                       std::int64_t record = -1)
{
    udb_failure f = udb_failure_of(kind, table, std::wstring(), e);
    if (const auto* pg = dynamic_cast<const pgs_exception*>(&e)) {
        f.sqlstate = pg->sqlstate();
        f.statement = pg->statement();
    }
    f.record = record;
    return f;
}

// A failure the run names itself (level 0).
udb_failure failure_named(udb_failure_kind kind, const std::wstring& table, const std::wstring& text)
{
    udb_failure f;
    f.kind = kind;
    f.table = table;
    f.text = tk_unicode_to_utf8(text);
    return f;
}

// A line of at most progress_line_max characters that still ends with "\r\n".
std::wstring fit_line(std::wstring line)
{
    if (line.size() > progress_line_max) {
        line.resize(progress_line_max - 2);
        line += L"\r\n";
    }
    return line;
}

// Which source row an append_record call carried: the calls are numbered
// 1, 2, ... while the source rows that never reached append_record (a failure
// before it) are listed in `skipped`, ascending.
std::uint64_t source_row_of(std::uint64_t append_number, const std::vector<std::uint64_t>& skipped)
{
    std::uint64_t row = append_number;
    for (std::uint64_t s : skipped) {
        if (s <= row)
            ++row;
        else
            break;
    }
    return row;
}

// A server went away in the middle of an item: raised inside the item, turned
// by the item into the error that ends the run.
struct lost_server {
    const char* server;
};

}  // namespace

connection_lost_exception::connection_lost_exception(const std::string& message) : tk_exception(message, 1) {}

// ---------------------------------------------------------------------------

init_conversion::init_conversion(std::atomic<bool>& finished, int no_com) : m_finished(finished), m_no_com(no_com)
{
    tk_write_log(2, "init_conversion::ctor");
    log_time("Conversion started on %02d/%02d/%04d at %02d:%02d:%02d");
    get_frontend_hooks().start_progress_timer(200);
}

init_conversion::~init_conversion()
{
    tk_write_log(2, "init_conversion::dtor");
    log_time("Conversion ended on %02d/%02d/%04d at %02d:%02d:%02d");
    m_finished.store(true, std::memory_order_release);
}

// ---------------------------------------------------------------------------

class pelmora_convertor::run {
public:
    explicit run(pelmora_convertor& c) : c_(c), hooks_(get_frontend_hooks()) {}

    // Runs the whole conversion; answers completed or stopped. Errors before
    // the first item pass to the caller.
    conversion_outcome execute();

private:
    enum class item_result { done, stopped };

    void progress(const std::wstring& line);
    item_result convert_item(const udb_work_item& item);
    // Copies the rows; false when a stop request ended the copy.
    bool copy_rows(const std::wstring& listed_name, udb_recordset& src, udb_recordset& dst,
                   pgs_table_mutator* tm);
    bool copy_rows_of(const std::wstring& listed_name, udb_recordset& src, udb_recordset& dst,
                      pgs_table_mutator* tm);
    // Merge and Synchronize into an existing table: the source's keys the table lacks (a
    // table an ended run made gets its keys only after its rows) are added before its
    // recordset is opened, so the rows merge on them; the other indexes it lacks follow its
    // rows. A key the rows there do not allow fails the item before any row is appended.
    void complete_keys_for_merge(const std::wstring& full_name, const udb_schema& columns,
                                 const udb_indexes& indexes);
    // The positions among the source's columns of its primary key, else its first unique key
    // (none when a column of it is not among them).
    static std::vector<std::size_t> source_key_positions(const udb_schema& columns, const udb_indexes& indexes);
    // A live table merged into finds its rows by the unique index there on those columns,
    // where it has one, rather than by its own primary key.
    static void merge_on_source_key(pgs_recordset& live, const udb_schema& columns,
                                    const std::vector<std::size_t>& key);
    // Merge and Synchronize into an existing table without a key: said once.
    void report_keyless(const std::wstring& full_name, udb_recordset& dst);
    // After a live table's rows, whichever way they ended: the rows still on their way
    // stored (refusals reported), then its auto-increment sequence set past them (a failure
    // is reported); a lost server passes on.
    void finish_live_table(const std::wstring& listed_name, pgs_recordset& live);
    void report_rejected(const std::wstring& listed_name, const pgs_rows_rejected_exception& e,
                         const std::vector<std::uint64_t>& skipped);
    std::pair<std::wstring, std::wstring> split_full_name(const std::wstring& full) const;
    // Throws lost_server when a connection the run needs is gone; `e` is the
    // failure at hand (a MySQL error says so by its number).
    // ask_destination false: only the error itself tells (a row that could
    // not be converted says nothing of the destination).
    void throw_if_lost(const tk_exception* e, bool ask_destination = true) const;
    // The error that ends the run after a server was lost during an item.
    connection_lost_exception lost_during(const lost_server& lost, const std::wstring& listed_name) const;
    // A stopped run leaves an earlier script as it was.
    void discard_script()
    {
        if (auto* script = dynamic_cast<pgs_dmp_database*>(dest_.get()))
            script->writer().discard();
    }
    // Custom queries first, in their order; then the tables, each after the tables its
    // foreign keys refer to, so rows merged into tables whose keys already stand find their
    // parent rows in place (overwriting: children first). Tables that refer to each other in
    // a circle are named and load in the order listed.
    void order_parents_first(std::vector<std::size_t>& plan);
    // Index names must avoid every table and view the run will create (one name space).
    void reserve_relation_names(const std::vector<std::size_t>& plan);
    // Overwriting a table (mode 1) takes along only what the run makes again: the tables of
    // the plan and the views of the run, as the destination will keep them.
    void tell_remade_relations(const std::vector<std::size_t>& plan);
    // The views this run converts.
    udb_view_list views_of_run() const;
    // Waits for the tables still being finished after their rows (keys, indexes, the foreign
    // keys made beside the rows) and reports what failed there. A stopped run leaves no
    // foreign key of its own: those not started are dropped, those made are dropped again.
    // After the last item, a lost server ends the run as one lost while the keys and views
    // are made.
    enum class finishing { stopped, after_last_item };
    void finish_tables(finishing when);
    // After an item: its table, when it ended well, is finished, and the foreign keys whose
    // tables are all finished now are handed to the destination.
    void offer_ready_keys(const udb_work_item& item, bool finished);
    // Runs one step of an item; its failure is reported under the item's name as a failure
    // of `kind`, a lost server passes on. False when it failed.
    template <class Step>
    bool report_failure_of(udb_failure_kind kind, const std::wstring& listed_name, Step&& step)
    {
        udb_failure failure;
        try {
            step();
            return true;
        } catch (const connection_lost_exception&) {
            throw;
        } catch (const tk_exception& e) {
            throw_if_lost(&e);
            failure = failure_of(kind, listed_name, e);
        }
        // Reported outside the handler: an Abort chosen in the report leaves at once.
        udb_report_failure(failure);
        return false;
    }
    // Ends the run after a server was lost during the item.
    [[noreturn]] void end_on_lost(const lost_server& lost, const std::wstring& listed_name);
    // The error that ends the run after a server was lost once every table had its rows.
    static connection_lost_exception lost_after_rows(const lost_server& lost);
    // After the rows of every item: the foreign keys, then the views.
    void create_keys_and_views();
    // An unsigned BIGINT auto-increment column arrives as a bigint serial, any other unsigned
    // BIGINT as NUMERIC(20): a foreign key between the two could not be made. The key's
    // columns of the table `listed_name` that refer to such a serial (of a table made before,
    // or of the table itself) become bigint too; the rows of their key fit it.
    void type_keys_like_their_serials(const std::wstring& listed_name, udb_schema& columns) const;

    pelmora_convertor& c_;
    frontend_hooks& hooks_;
    // Released in reverse order: validator, destination, source.
    std::unique_ptr<udb_database> source_;
    std::unique_ptr<pgs_base_db> dest_;
    std::unique_ptr<pgs_tn_validator> validator_;
    // Rows of the current item that reached the destination for good (live:
    // committed; script: written), set when a server is lost.
    std::uint64_t item_rows_kept_ = 0;
    // Destination tables this run has made so far (schema and table as the server keeps
    // them), and the validator that gives a later table whose name would land on one of
    // them a name of its own.
    std::vector<std::wstring> made_tables_;
    std::unique_ptr<pgs_tn_validator> renamer_;
    // The destination name of a table: its own, or a safe one when folding or the server's
    // 63-byte cut makes it the name of a table this run has already made.
    std::wstring unique_table_name(const std::wstring& name);
    // Columns NOT NULL in the source that the table was made without (zero dates arrive as
    // NULL): their positions in the rows and how many NULLs each received.
    struct not_null_watch {
        std::vector<std::size_t> positions;
        std::vector<pgs_value_column> kinds;
        std::vector<std::uint64_t> nulls;
        std::string written;  // a watched value as the destination writes it
    };
    not_null_watch watch_;
    // Reports the source defaults the new table could not take, one line per column.
    void report_lost_defaults(const std::wstring& listed_name, const udb_schema& columns);
    // After the rows: NOT NULL again on each watched column that received no NULL; a column
    // that did is named with its count.
    void restore_not_null(const std::wstring& listed_name, const std::wstring& full_name,
                          const std::vector<std::wstring>& dest_columns);
    conversion_relations relations_;       // tables in place, for the keys and views
    // Source rows of the current item that never reached append_record, ascending.
    std::vector<std::uint64_t> skipped_rows_;
};

void pelmora_convertor::run::throw_if_lost(const tk_exception* e, bool ask_destination) const
{
    if (const auto* my = dynamic_cast<const sql_exception*>(e); my && my->is_connection_lost())
        throw lost_server{"MySQL"};
    if (!dynamic_cast<pgs_database*>(dest_.get()))
        return;
    // Rows on their way broke a connection that could not be opened again:
    // the server may still answer the run's own connection, the rows cannot go.
    if (dynamic_cast<const pgs_connection_lost_exception*>(e))
        throw lost_server{"PostgreSQL"};
    if (!ask_destination && !dynamic_cast<const pgs_exception*>(e))
        return;
    // A refusal the server answered with its SQLSTATE leaves no doubt that it
    // is there: only a failure without one is worth asking about.
    if (const auto* rejected = dynamic_cast<const pgs_rows_rejected_exception*>(e)) {
        bool unanswered = false;
        for (const pgs_rejected_row& row : rejected->rows())
            unanswered = unanswered || row.sqlstate.empty();
        if (!unanswered)
            return;
    } else if (const auto* pg = dynamic_cast<const pgs_exception*>(e); pg && !pg->sqlstate().empty()) {
        return;
    }
    if (c_.get_pgs_engine().is_connection_lost())
        throw lost_server{"PostgreSQL"};
}

connection_lost_exception pelmora_convertor::run::lost_during(const lost_server& lost,
                                                              const std::wstring& listed_name) const
{
    const bool live = dynamic_cast<pgs_database*>(dest_.get()) != nullptr;
    std::string text = std::string("Lost the connection to the ") + lost.server + " server while converting table '" +
                       tk_unicode_to_utf8(listed_name) + "': " + std::to_string(item_rows_kept_) +
                       (live ? " of its rows were committed" : " of its rows were written") +
                       ". The conversion was ended.";
    if (!live)
        text += " The script file was not written.";
    return connection_lost_exception(text);
}

void pelmora_convertor::run::progress(const std::wstring& line)
{
    const std::wstring fitted = fit_line(line);
    std::wstring logged = fitted;
    while (!logged.empty() && (logged.back() == L'\n' || logged.back() == L'\r'))
        logged.pop_back();
    tk_write_wlog(3, L"%s", logged.c_str());
    hooks_.progress_line(fitted);
}

std::pair<std::wstring, std::wstring> pelmora_convertor::run::split_full_name(const std::wstring& full) const
{
    if (auto* live = dynamic_cast<pgs_database*>(dest_.get()))
        return live->split_name(full);
    const auto dot = full.find(L'.');
    if (dot == std::wstring::npos)
        return {std::wstring(), full};
    return {full.substr(0, dot), full.substr(dot + 1)};
}

conversion_outcome pelmora_convertor::run::execute()
{
    // Neither the live connection (which keeps UTF-8) nor a script could honour
    // an encoding it does not know: refused before anything is opened.
    if (!pgs_iconv_name(c_.client_encoding))
        throw tk_exception("Unknown PostgreSQL encoding '" + tk_unicode_to_utf8(c_.client_encoding) + "'", 1);
    source_ = c_.get_sql_engine().open_db(c_.get_source(), 1, std::wstring());
    dest_ = c_.get_dest_base();
    // A table the run creates is loaded first and indexed after its rows.
    dest_->set_indexes_after_rows(true);

    std::string encoding = "set client_encoding to ";
    pgs_append_literal(encoding, std::wstring_view(c_.client_encoding));
    dest_->query(tk_utf8_to_unicode(encoding));

    if (c_.all_tables_when_empty && c_.selected_tables.empty() && c_.query_list.empty())
        c_.selected_tables = source_->get_table_names();

    // The work list: the listed items, then the selected tables, each table
    // under the name the source gives it. A table the source lacks is
    // reported here and left out of the count; one listed twice is converted
    // once.
    const std::size_t listed = c_.query_list.size();
    const std::vector<std::wstring>& names = source_->get_table_names();
    const std::unordered_set<std::wstring> source_tables(names.begin(), names.end());
    relations_.set_source_tables(names);
    auto server_takes = [&](const std::wstring& name) {
        return source_->test_query(L"SELECT 1 FROM " + source_->quote_table_name(name) + L" LIMIT 0");
    };
    std::unordered_set<std::wstring> planned;  // source names of the tables in the plan
    // The source's name of a listed table, or "" when it is missing or listed already.
    auto plan_table = [&](const std::wstring& listed_name) {
        const std::wstring name = source_table_name(source_tables, listed_name, server_takes);
        if (name.empty()) {
            tk_write_wlog(3, L"Table '%s' does not exist", listed_name.c_str());
            udb_report_failure(failure_named(udb_failure_kind::table, std::wstring(),
                                             L"Table '" + listed_name + L"' does not exist in the source database '" +
                                                 c_.get_source() + L"'"));
            return std::wstring();
        }
        if (!planned.insert(name).second) {
            tk_write_wlog(3, L"Table '%s' is listed more than once; it is converted once", name.c_str());
            return std::wstring();
        }
        if (name != listed_name)
            tk_write_wlog(3, L"Listed table '%s' is the source's table '%s'", listed_name.c_str(), name.c_str());
        return name;
    };
    std::vector<std::size_t> plan;
    for (std::size_t i = 0; i < listed; ++i) {
        if (c_.query_list[i].second.empty()) {
            std::wstring name = plan_table(c_.query_list[i].first);
            if (name.empty())
                continue;
            c_.query_list[i].first = std::move(name);
        }
        plan.push_back(i);
    }
    std::vector<std::wstring> appended;
    for (const std::wstring& table : c_.selected_tables) {
        std::wstring name = plan_table(table);
        if (!name.empty())
            appended.push_back(std::move(name));
    }

    c_.items_total.store(static_cast<std::uint32_t>(plan.size() + appended.size()), std::memory_order_relaxed);
    progress(tk_wformat(L"Converting database '%s' (%d tables)\r\n", c_.get_source().c_str(),
                        static_cast<int>(c_.items_total.load())));

    validator_ = std::make_unique<pgs_tn_validator>(c_.selected_tables, dest_->get_table_names());
    for (std::size_t i = 0; i < listed; ++i) {
        tk_write_wlog(1, L"udb_validator::add_existing_name(%s)", c_.query_list[i].first.c_str());
        validator_->add_existing_name(c_.query_list[i].first);
    }
    for (const std::wstring& table : appended) {
        plan.push_back(c_.query_list.size());
        c_.query_list.emplace_back(table, std::wstring());
    }

    order_parents_first(plan);
    reserve_relation_names(plan);
    if (c_.n_mode == udb_mode_overwrite_tables)
        tell_remade_relations(plan);
    for (std::size_t index : plan) {
        if (c_.stop_requested()) {
            tk_write_log(3, "The conversion was stopped");
            finish_tables(finishing::stopped);
            discard_script();
            return conversion_outcome::stopped;
        }
        const udb_work_item item = c_.query_list[index];  // a copy: the item outlives no list change
        c_.set_current_table(item.first);
        c_.records_done.store(0, std::memory_order_relaxed);
        c_.record_count.store(0, std::memory_order_relaxed);
        item_result result = item_result::done;
        item_rows_kept_ = 0;
        try {
            udb_failure failure;
            bool failed = false;
            try {
                result = convert_item(item);
            } catch (const connection_lost_exception&) {
                throw;
            } catch (const tk_exception& e) {
                throw_if_lost(&e);
                failure = failure_of(udb_failure_kind::table, item.first, e);
                failed = true;
            }
            if (failed)
                udb_report_failure(failure);
            // The indexes of a table created here are built once its recordset
            // is gone (its last rows committed, its sequence set), whichever way
            // the item ended, so a rerun in mode 3 finds its keys.
            const bool indexed = report_failure_of(udb_failure_kind::index, item.first,
                                                   [&] { dest_->build_deferred_indexes(); });
            offer_ready_keys(item, !failed && indexed && result == item_result::done);
        } catch (const lost_server& lost) {
            end_on_lost(lost, item.first);
        }
        c_.items_done.fetch_add(1, std::memory_order_relaxed);
        if (result == item_result::stopped) {
            tk_write_log(3, "The conversion was stopped");
            finish_tables(finishing::stopped);
            discard_script();
            return conversion_outcome::stopped;
        }
    }

    finish_tables(finishing::after_last_item);
    try {
        try {
            create_keys_and_views();
        } catch (const connection_lost_exception&) {
            throw;
        } catch (const tk_exception& e) {
            throw_if_lost(&e);
            throw;
        }
    } catch (const lost_server& lost) {
        throw lost_after_rows(lost);
    }

    c_.items_done.store(0, std::memory_order_relaxed);
    c_.items_total.store(0, std::memory_order_relaxed);

    validator_.reset();
    // A script's last writes are checked here, where a failure can still be
    // reported (its destructor could only log it).
    if (auto* script = dynamic_cast<pgs_dmp_database*>(dest_.get()))
        script->close();
    dest_.reset();
    source_.reset();
    return conversion_outcome::completed;
}

void pelmora_convertor::run::type_keys_like_their_serials(const std::wstring& listed_name, udb_schema& columns) const
{
    const auto column_named = [&](const std::wstring& name) -> t_ftd* {
        for (std::size_t i = 0; i < columns.size(); ++i)
            if (columns[i].name == name) return &columns[i];
        for (std::size_t i = 0; i < columns.size(); ++i)
            if (tk_equal_no_case(columns[i].name, name)) return &columns[i];
        return nullptr;
    };
    for (const udb_relationship& key : source_->get_relationships()) {
        if (key.table != listed_name || key.fk_flds.size() != key.pk_flds.size()) continue;
        const bool to_itself = key.ref_table == listed_name;
        for (std::size_t i = 0; i < key.fk_flds.size(); ++i) {
            t_ftd* child = column_named(key.fk_flds[i]);
            if (!child || child->vartype != VT_UI8 || child->auto_increment || !child->nativetype.empty())
                continue;
            bool serial = false;
            if (to_itself) {
                const t_ftd* parent = column_named(key.pk_flds[i]);
                serial = parent && parent->auto_increment && parent->vartype == VT_UI8 && parent->nativetype.empty();
            } else {
                serial = relations_.is_unsigned_bigint_serial(key.ref_table, key.pk_flds[i]);
            }
            if (serial) child->nativetype = L"BIGINT";
        }
    }
}

std::wstring pelmora_convertor::run::unique_table_name(const std::wstring& name)
{
    const bool cs = c_.get_pgs_engine().is_case_sens;
    const std::wstring schema = pgs_fold_name(c_.pgs_schema.empty() ? L"public" : c_.pgs_schema, cs);
    auto key_of = [&](const std::wstring& table) {
        return schema + L'\n' + pgs_truncate_identifier(pgs_fold_name(table, cs));
    };
    // A table of the run's, or one the PostGIS extension keeps in the schema (a script must
    // never drop it), takes the name.
    auto made = [&](const std::wstring& key) {
        const std::size_t cut = key.find(L'\n');
        if (pgs_is_extension_relation(key.substr(0, cut), key.substr(cut + 1)))
            return true;
        return std::find(made_tables_.begin(), made_tables_.end(), key) != made_tables_.end();
    };
    std::wstring result = name;
    if (made(key_of(result))) {
        // A safe name from the source's own names only, so a later run gives the same one.
        if (!renamer_)
            renamer_ = std::make_unique<pgs_tn_validator>(c_.selected_tables, std::vector<std::wstring>());
        std::wstring tried = name;
        do {
            renamer_->add_existing_name(tried);
            result = renamer_->get_safe_name(name);
            tried = result;
        } while (made(key_of(result)));
        renamer_->add_existing_name(result);
        progress(tk_wformat(L"Table '%s' is converted as '%s'\r\n", name.c_str(), result.c_str()));
    }
    made_tables_.push_back(key_of(result));
    return result;
}

pelmora_convertor::run::item_result pelmora_convertor::run::convert_item(const udb_work_item& item)
{
    const std::wstring& listed_name = item.first;
    const bool is_table = item.second.empty();
    // Declared before the destination recordset, so released after it.
    std::unique_ptr<udb_recordset> src =
        is_table ? source_->get_table(listed_name, 1) : source_->get_query(listed_name, item.second, 1);

    tk_write_wlog(2, L"udb_db_mutator::modify1(%s)", listed_name.c_str());
    pgs_table_mutator* tm = nullptr;
    {
        const auto& mutators = c_.get_table_mutators();
        auto it = mutators.find(listed_name);
        if (it != mutators.end())
            tm = it->second.get();
    }
    // The destination's columns and indexes: the source's, changed by the
    // table mutator. The changes go into copies: the source recordset reads its
    // rows by its own column types, so a value the user's type cannot take
    // fails its own row (in modify2) instead of the source's reading.
    udb_schema columns = src->get_schema();
    udb_indexes indexes;
    if (!c_.skip_idx)
        indexes = src->get_indexes();
    std::wstring new_name = listed_name;
    if (tm) {
        tm->modify3(indexes);
        new_name = tm->modify1(columns);
    }

    std::wstring full_name = pgs_base_db::make_safe_tname(unique_table_name(new_name), c_.pgs_schema);
    tk_write_wlog(2, L"old_tab_name=%s, new_tab_name=%s", new_name.c_str(), full_name.c_str());
    if (full_name != new_name)
        dest_->add_tn_mapping(new_name, full_name);

    auto [schema, table] = split_full_name(full_name);
    if (schema.empty())
        schema = L"public";
    if (schema != L"public") {
        progress(tk_wformat(L"Creating schema if necessary: '%s'\r\n", schema.c_str()));
        dest_->create_schema(schema);
    }
    full_name = pgs_base_db::make_safe_tname(table, schema);
    tk_write_wlog(2, L"Got full table name: '%s'", full_name.c_str());

    const int mode = c_.n_mode;
    const bool existed = dest_->is_table_exist(full_name);
    bool rows_by_insert = false;
    if (existed) {
        switch (mode) {
        case udb_mode_skip_tables:
            if (is_table)
                relations_.add_table(listed_name, full_name, tm, false, columns);  // kept as it is, still a parent
            return item_result::done;
        case udb_mode_overwrite_tables:
            try {
                dest_->delete_tab(full_name);
            } catch (const tk_exception&) {
                // Left as it was: its keys to the tables this run replaces went with their drop,
                // so they are made again at the end (or reported, where its rows no longer fit).
                if (is_table)
                    relations_.add_table(listed_name, full_name, tm, true, columns);
                throw;
            }
            break;
        case udb_mode_merge:
        case udb_mode_synchronize:
            // Existing rows may collide with new ones: this table's rows go by
            // INSERT, whose conflict clause keeps or replaces the existing row
            // (the user's COPY setting stays as it is for the other tables).
            rows_by_insert = true;
            complete_keys_for_merge(full_name, columns, indexes);
            break;
        default:
            break;
        }
    }

    // A table this run makes (not one already there that it appends to) takes the source's
    // defaults and NOT NULL as far as it can.
    const bool made_here = !existed || mode == udb_mode_overwrite_tables;
    if (made_here && is_table && !tm)
        type_keys_like_their_serials(listed_name, columns);
    // The key a merge finds rows by is the source's (its primary key, else its first unique
    // key), as a script names it: the table there may have another primary key.
    std::vector<std::size_t> source_key;
    if (existed && (mode == udb_mode_merge || mode == udb_mode_synchronize))
        source_key = source_key_positions(columns, indexes);
    std::unique_ptr<udb_recordset> dst = dest_->create_table1(full_name, columns, indexes);
    indexes.clear();
    if (!dst)
        throw tk_exception(L"The destination table " + full_name + L" could not be opened.", 1);
    if (is_table)
        relations_.add_table(listed_name, full_name, tm, true, columns);

    if (rows_by_insert) {
        if (auto* live = dynamic_cast<pgs_recordset*>(dst.get())) {
            live->set_rows_by_insert(true);
            merge_on_source_key(*live, columns, source_key);
        } else if (auto* script = dynamic_cast<pgs_dmp_recordset*>(dst.get()))
            script->set_rows_by_insert(true);
    }

    if ((mode == udb_mode_merge || mode == udb_mode_synchronize) &&
        !columns.conform_to(dst->get_schema(), false))
        throw tk_exception(tk_ansi_to_unicode(not_conform_message), 0);

    if (!validator_->is_acceptable(new_name)) {
        tk_write_wlog(2, L"Store generated table name '%s'", full_name.c_str());
        tk_write_wlog(1, L"udb_validator::add_existing_name(%s)", full_name.c_str());
        validator_->add_existing_name(full_name);
        dest_->add_tn_mapping(new_name, full_name);
    }
    validator_->restricted_names.push_back(full_name);

    c_.record_count.store(src->get_record_count(), std::memory_order_relaxed);
    progress(tk_wformat(L"Converting table %s (%I64u records)\r\n", listed_name.c_str(),
                        static_cast<unsigned long long>(c_.record_count.load())));
    tk_write_log(3, "fast_insert=%d", c_.get_pgs_engine().fast_insert ? 1 : 0);

    watch_ = not_null_watch();
    std::vector<std::wstring> dest_columns;
    // A live table merged into may be one an ended run made, whose columns still wait for
    // their NOT NULL: they get it after these rows as in the run that made the table.
    const bool merged_live = existed && (mode == udb_mode_merge || mode == udb_mode_synchronize) &&
                             dynamic_cast<pgs_recordset*>(dst.get()) != nullptr;
    if (made_here)
        report_lost_defaults(listed_name, columns);
    if (made_here || merged_live) {
        const udb_schema& made = dst->get_schema();
        const bool cs = c_.get_pgs_engine().is_case_sens;
        for (std::size_t i = 0; i < columns.size() && columns.size() == made.size(); ++i) {
            dest_columns.push_back(made[i].name);
            // A name PostgreSQL could not take as it is (a system column's, a quote, too long)
            // is said, as a renamed table is.
            if (made_here) {
                const std::wstring given = pgs_unquote_name(made[i].name);
                if (given != pgs_fold_name(columns[i].name, cs))
                    progress(tk_wformat(L"Column '%s' of table '%s' is converted as '%s'\r\n",
                                        columns[i].name.c_str(), listed_name.c_str(), given.c_str()));
            }
            // A column the table was made NOT NULL with all the same (a key column) refuses
            // the rows that bring NULL: those are reported, and it stays NOT NULL.
            if (columns[i].not_null_after_rows && !made[i].b_not_null) {
                watch_.positions.push_back(i);
                watch_.kinds.push_back(pgs_make_value_column(columns[i]));
                watch_.nulls.push_back(0);
            }
        }
    }

    bool finished = true;
    auto* live = dynamic_cast<pgs_recordset*>(dst.get());
    if (c_.record_count.load() != 0 && !c_.tab_def) {
        try {
            finished = copy_rows(listed_name, *src, *dst, tm);
        } catch (const tk_exception&) {
            // The rows given so far are stored, as before the failure, and the sequence
            // goes past them all the same.
            if (live)
                finish_live_table(listed_name, *live);
            throw;
        }
    }
    if (live)
        finish_live_table(listed_name, *live);
    // Said once the rows went in: a table that could not take them at all
    // (another structure) has its one report, and nothing was appended.
    if (existed && (mode == udb_mode_merge || mode == udb_mode_synchronize) && !c_.tab_def &&
        c_.record_count.load() != 0)
        report_keyless(full_name, *dst);
    dst.reset();
    if (finished && !watch_.positions.empty())
        restore_not_null(listed_name, full_name, dest_columns);
    src.reset();
    return finished ? item_result::done : item_result::stopped;
}

void pelmora_convertor::run::report_lost_defaults(const std::wstring& listed_name, const udb_schema& columns)
{
    for (std::size_t i = 0; i < columns.size(); ++i) {
        const t_ftd& column = columns[i];
        for (const std::wstring& part : column.not_carried)
            udb_report_failure(failure_named(udb_failure_kind::column, listed_name, L"Column '" + column.name + L"': " + part));
        if (!pgs_default_is_lost(column))
            continue;
        udb_report_failure(failure_named(udb_failure_kind::column, listed_name,
                                      L"Column '" + column.name + L"': the default " +
                                          column.default_value.to_wstring() +
                                          L" has no PostgreSQL form; the column arrives without a default"));
    }
}

void pelmora_convertor::run::restore_not_null(const std::wstring& listed_name, const std::wstring& full_name,
                                              const std::vector<std::wstring>& dest_columns)
{
    const bool cs = c_.get_pgs_engine().is_case_sens;
    const std::wstring table = c_.get_pgs_engine().make_name3(full_name, true);
    for (std::size_t k = 0; k < watch_.positions.size(); ++k) {
        const std::size_t at = watch_.positions[k];
        if (at >= dest_columns.size())
            continue;
        // The script's columns keep their quoted form, the live ones the catalog's text.
        const std::wstring column = pgs_unquote_name(dest_columns[at]);
        if (watch_.nulls[k] != 0) {
            udb_report_failure(failure_named(
                udb_failure_kind::column, listed_name,
                tk_wformat(L"Column '%s' stays nullable: %I64u rows arrived with NULL for a zero date",
                           column.c_str(), static_cast<unsigned long long>(watch_.nulls[k]))));
            continue;
        }
        // Every row written had a value: the script's reader will find none NULL either.
        // Live, the server checks the rows while the next table loads; a refusal is reported
        // and counted where it is met.
        pgs_finish_step step;
        step.table = listed_name;
        step.target = tk_unicode_to_utf8(table);  // kept in order with the table's keys
        step.sql = tk_unicode_to_utf8(L"ALTER TABLE " + table + L" ALTER COLUMN " +
                                      pgs_quote_identifier(std::wstring_view(pgs_fold_name(column, cs))) +
                                      L" SET NOT NULL");
        step.failure_prefix = "Cannot set NOT NULL: ";
        step.kind = udb_failure_kind::index;
        dest_->run_after_rows(std::move(step));
    }
}

bool pelmora_convertor::run::copy_rows_of(const std::wstring& listed_name, udb_recordset& src,
                                          udb_recordset& dst, pgs_table_mutator* tm)
{
    const int mode = c_.n_mode;
    const bool with_field_mutators = tm && tm->has_field_mutators();
    auto* live = dynamic_cast<pgs_recordset*>(&dst);
    if (live) {
        // Synchronize: a row whose key exists replaces that row's values, in
        // the statement that appends it. The other modes keep existing rows.
        live->set_key_conflict(mode == udb_mode_synchronize ? pgs_key_conflict::replace : pgs_key_conflict::skip);
        // Texts travel as UTF-8; a row the chosen encoding cannot hold fails alone.
        live->set_client_encoding(c_.client_encoding);
    }
    std::vector<std::uint64_t>& skipped = skipped_rows_;
    skipped.clear();

    bool stopped = false;
    src.reset();
    while (!src.is_eof()) {
        if (c_.stop_requested()) {
            // The rows given so far are stored: the run stops after the current row.
            stopped = true;
            break;
        }
        const std::uint64_t row_number = c_.records_done.load(std::memory_order_relaxed) + 1;
        tk_write_log(1, "Converting %d record", static_cast<int>(row_number - 1));
        udb_record* out = nullptr;
        try {
            udb_record* rec = src.get_item();
            tk_write_wlog(2, L"udb_db_mutator::modify2(%s)", listed_name.c_str());
            if (!rec) {
                // Nothing to write for this row: say so instead of losing it unnoticed.
                skipped.push_back(row_number);
                throw tk_exception("The source row could not be read.", 0);
            }
            if (with_field_mutators) {
                out = &tm->modify2(*rec);
            } else {
                tk_write_wlog(2, L"Not found: '%s'", listed_name.c_str());
                out = rec;
            }
            dst.append_record(*out);
            // A zero or invalid date is written as NULL: the same writer says so.
            for (std::size_t k = 0; k < watch_.positions.size(); ++k) {
                const std::size_t at = watch_.positions[k];
                if (at >= out->size())
                    continue;
                watch_.written.clear();
                pgs_append_copy_value(watch_.written, (*out)[at], watch_.kinds[k]);
                if (watch_.written == "\\N")
                    ++watch_.nulls[k];
            }
        } catch (const pgs_rows_rejected_exception& e) {
            // Rows of an earlier batch were refused; this row has been written.
            throw_if_lost(&e);
            report_rejected(listed_name, e, skipped);
        } catch (const pgs_exception& e) {
            tk_write_log(2, "pgs_exception: n_mode=%d, error=%d, sqlstate=%s", mode, e.get_error_code(),
                         e.sqlstate().c_str());
            throw_if_lost(&e);
            // Merge passes over a row whose key exists in the statement itself (ON CONFLICT
            // naming that key), so whatever the server refuses here, a collision with another
            // unique key included, is a refused row in every mode.
            udb_report_failure(failure_of(udb_failure_kind::row, listed_name, e, std::int64_t(row_number)));
        } catch (const udb_structure_exception&) {
            // The table cannot take the rows at all: one report for the item.
            throw;
        } catch (const tk_exception& e) {
            throw_if_lost(&e, false);
            // A row that cannot be converted fails alone; worse errors fail the item.
            if (e.get_level() != 0)
                throw;
            if (!out && (skipped.empty() || skipped.back() != row_number))
                skipped.push_back(row_number);
            udb_report_failure(failure_of(udb_failure_kind::row, listed_name, e, std::int64_t(row_number)));
        }
        src.next();
        c_.records_done.fetch_add(1, std::memory_order_relaxed);
    }

    if (live) {
        // Rows of the last COPY batch that were refused are reported here;
        // the destructor could only log them.
        try {
            live->flush_rows();
        } catch (const pgs_rows_rejected_exception& e) {
            throw_if_lost(&e);
            report_rejected(listed_name, e, skipped);
        }
    }
    return !stopped;
}

bool pelmora_convertor::run::copy_rows(const std::wstring& listed_name, udb_recordset& src, udb_recordset& dst,
                                       pgs_table_mutator* tm)
{
    auto* live = dynamic_cast<pgs_recordset*>(&dst);
    // The recordset counts the rows it holds (stored, or on their way) less
    // those refused; an existing table's own rows are in the count already.
    const std::uint64_t rows_before = dst.get_record_count();
    try {
        try {
            if (copy_rows_of(listed_name, src, dst, tm)) {
                // Every row is stored or refused now: a server lost while the table is
                // finished (its keys, indexes) names the rows it kept.
                const std::uint64_t rows_now =
                    live ? live->get_record_count() : c_.records_done.load(std::memory_order_relaxed);
                item_rows_kept_ = live ? (rows_now > rows_before ? rows_now - rows_before : 0) : rows_now;
                return true;
            }
            // Stopped: the rows on their way are stored or refused now, so the count is what was committed.
            const std::uint64_t rows_now = live ? live->get_record_count() : 0;
            c_.m_stopped_at = {listed_name, live ? (rows_now > rows_before ? rows_now - rows_before : 0)
                                                 : c_.records_done.load(std::memory_order_relaxed)};
            return false;
        } catch (const tk_exception& e) {
            // Reading the next source row failed: was it the connection?
            throw_if_lost(&e);
            throw;
        }
    } catch (const lost_server& lost) {
        if (live) {
            // Every row on its way is stored now, or refused (all of them when
            // the destination is gone): the count is then what was committed,
            // and a later run in mode 3 can complete the table.
            try {
                live->flush_rows();
            } catch (const std::exception& e) {
                tk_write_log(3, "%s", e.what());
            }
            const std::uint64_t rows_now = live->get_record_count();
            item_rows_kept_ = rows_now > rows_before ? rows_now - rows_before : 0;
        } else {
            item_rows_kept_ = c_.records_done.load(std::memory_order_relaxed);
        }
        throw;
    }
}

std::vector<std::size_t> pelmora_convertor::run::source_key_positions(const udb_schema& columns,
                                                                      const udb_indexes& indexes)
{
    const udb_index* chosen = nullptr;
    for (std::size_t i = 0; i < indexes.size() && !(chosen && chosen->primary); ++i)
        if (indexes[i].primary || (indexes[i].unique && !chosen))
            chosen = &indexes[i];
    std::vector<std::size_t> key;
    for (std::size_t f = 0; chosen && f < chosen->fields.size(); ++f) {
        const int at = columns.get_field_idx(chosen->fields[f]);
        if (at < 0)
            return {};
        key.push_back(static_cast<std::size_t>(at));
    }
    return key;
}

void pelmora_convertor::run::merge_on_source_key(pgs_recordset& live, const udb_schema& columns,
                                                 const std::vector<std::size_t>& key)
{
    // A column there is the one of the source's name, as the rows find it (else the one in
    // the same place: a name PostgreSQL could not take as it was).
    const udb_schema& there = live.get_schema();
    if (key.empty() || there.size() != columns.size())
        return;
    std::vector<std::wstring> wanted;
    for (const std::size_t at : key) {
        std::size_t c = 0;
        while (c < there.size() && !tk_equal_no_case(there[c].name, columns[at].name))
            ++c;
        wanted.push_back(there[c < there.size() ? c : at].name);
    }
    std::sort(wanted.begin(), wanted.end());
    const udb_indexes& indexes = live.get_indexes();
    for (std::size_t i = 0; i < indexes.size(); ++i) {
        if (!indexes[i].unique && !indexes[i].primary)
            continue;
        std::vector<std::wstring> fields = indexes[i].fields;
        std::sort(fields.begin(), fields.end());
        if (fields == wanted) {
            live.set_key_pos(static_cast<int>(i));
            return;
        }
    }
    // No unique index there on the source's key: the table's own key, as before.
}

void pelmora_convertor::run::complete_keys_for_merge(const std::wstring& full_name, const udb_schema& columns,
                                                     const udb_indexes& indexes)
{
    // A script cannot know what the table it will be loaded into holds.
    if (auto* live = dynamic_cast<pgs_database*>(dest_.get())) {
        const std::size_t added = live->complete_keys_for_merge(full_name, columns, indexes);
        if (added != 0)
            progress(tk_wformat(L"Keys of the source added to table '%s' before its rows were merged: %d\r\n",
                                full_name.c_str(), static_cast<int>(added)));
    }
}

void pelmora_convertor::run::report_keyless(const std::wstring& full_name, udb_recordset& dst)
{
    auto* live = dynamic_cast<pgs_recordset*>(&dst);
    if (!live)
        return;
    if (const std::uint64_t appended = live->get_rows_with_null_key()) {
        // NULL equals nothing: a key that allows it cannot find such a row among the rows
        // there, so a second run appends it again.
        udb_report_failure(failure_named(
            udb_failure_kind::keyless_merge, full_name,
            tk_wformat(L"%I64u rows hold NULL in the key they are merged on, which matches no row: "
                       L"they were appended, whatever the table held.",
                       static_cast<unsigned long long>(appended))));
        return;
    }
    if (!live->get_pk_columns().empty())
        return;
    udb_indexes& indexes = live->get_indexes();
    for (std::size_t i = 0; i < indexes.size(); ++i)
        if (indexes[i].unique || indexes[i].primary)
            return;
    // Merge and Synchronize find existing rows by their key: without one every
    // row is appended again. Said once for the table, not per row.
    udb_report_failure(failure_named(udb_failure_kind::keyless_merge, full_name,
                                  L"The table has no primary or unique key to merge on: its rows were appended."));
}

void pelmora_convertor::run::finish_live_table(const std::wstring& listed_name, pgs_recordset& live)
{
    try {
        live.flush_rows();
    } catch (const pgs_rows_rejected_exception& e) {
        throw_if_lost(&e);
        report_rejected(listed_name, e, skipped_rows_);
    }
    udb_failure failure;
    try {
        live.set_sequence_after_rows();
        return;
    } catch (const pgs_exception& e) {
        throw_if_lost(&e);
        failure = failure_of(udb_failure_kind::sequence, listed_name, e);
    }
    udb_report_failure(failure);
}

void pelmora_convertor::run::report_rejected(const std::wstring& listed_name, const pgs_rows_rejected_exception& e,
                                             const std::vector<std::uint64_t>& skipped)
{
    for (const pgs_rejected_row& row : e.rows()) {
        udb_failure f = failure_named(udb_failure_kind::row, listed_name, tk_utf8_to_unicode(row.message));
        f.sqlstate = row.sqlstate;
        f.count = row.rows;
        f.record = static_cast<std::int64_t>(source_row_of(row.record_number, skipped));
        udb_report_failure(f);
    }
}

void pelmora_convertor::run::order_parents_first(std::vector<std::size_t>& plan)
{
    std::vector<std::size_t> ordered, tables;
    std::vector<std::wstring> names;
    for (std::size_t index : plan) {
        if (c_.query_list[index].second.empty()) {
            tables.push_back(index);
            names.push_back(c_.query_list[index].first);
        } else {
            ordered.push_back(index);
        }
    }
    std::vector<std::pair<std::wstring, std::wstring>> references;
    bool references_known = false;
    if (auto* mysql = dynamic_cast<sql_database*>(source_.get()); mysql && tables.size() > 1) {
        try {
            references = mysql->read_table_references();
            references_known = true;
        } catch (const sql_exception& e) {
            if (e.is_connection_lost())
                throw;
            // The rows still load, only in the order listed.
            tk_write_log(3, "The foreign keys of the source could not be read: %s", e.what());
        }
    }
    // Overwriting drops each table before it is made again, and the tables it makes get their
    // foreign keys only after every table: there a child goes first, so no table is dropped
    // while a table of the run still refers to it.
    if (c_.n_mode == udb_mode_overwrite_tables)
        for (auto& [child, parent] : references)
            std::swap(child, parent);
    std::vector<std::vector<std::wstring>> cycles;
    for (std::size_t at : conversion_relations::load_order(names, references, cycles))
        ordered.push_back(tables[at]);
    plan = std::move(ordered);
    // Live, a foreign key may be made as soon as its tables are finished, beside the rows of
    // the tables still loading; only where the circles of tables are known (their keys wait
    // for the last table).
    if (references_known && dynamic_cast<pgs_database*>(dest_.get()))
        relations_.allow_early_keys(names, cycles);
    for (const std::vector<std::wstring>& cycle : cycles) {
        std::wstring list;
        for (const std::wstring& name : cycle)
            list += (list.empty() ? L"'" : L", '") + name + L"'";
        progress(L"Tables " + list + L" refer to each other in a circle: they are loaded in the order listed\r\n");
    }
}

void pelmora_convertor::run::reserve_relation_names(const std::vector<std::size_t>& plan)
{
    auto& restricted = c_.get_pgs_engine().in_validator().restricted_names;
    const auto& mutators = c_.get_table_mutators();
    for (std::size_t index : plan) {
        const std::wstring& name = c_.query_list[index].first;
        restricted.push_back(name);
        auto it = mutators.find(name);
        if (it != mutators.end() && it->second && !it->second->get_new_name().empty())
            restricted.push_back(it->second->get_new_name());
    }
    for (const udb_view& view : views_of_run())
        restricted.push_back(view.first);
}

void pelmora_convertor::run::tell_remade_relations(const std::vector<std::size_t>& plan)
{
    auto* live = dynamic_cast<pgs_database*>(dest_.get());
    auto* script = dynamic_cast<pgs_dmp_database*>(dest_.get());
    if (!live && !script)
        return;
    const bool cs = c_.get_pgs_engine().is_case_sens;
    const std::wstring schema = pgs_fold_name(c_.pgs_schema.empty() ? L"public" : c_.pgs_schema, cs);
    auto kept_as = [&](const std::wstring& name) { return pgs_truncate_identifier(pgs_fold_name(name, cs)); };
    std::vector<std::pair<std::wstring, std::wstring>> remade;
    std::vector<std::wstring> tables;
    const auto& mutators = c_.get_table_mutators();
    for (std::size_t index : plan) {
        const std::wstring& name = c_.query_list[index].first;
        tables.push_back(name);
        auto it = mutators.find(name);
        const bool renamed = it != mutators.end() && it->second && !it->second->get_new_name().empty();
        remade.emplace_back(schema, kept_as(renamed ? it->second->get_new_name() : name));
    }
    // A view that reads a table the run leaves out is refused, not made again: one there
    // keeps the table it reads from being overwritten, as a view of the user's own does.
    for (const udb_view& view : conversion_relations::views_made_again(views_of_run(), tables))
        remade.emplace_back(schema, kept_as(view.first));
    if (script)
        script->set_remade_relations(remade);
    else
        live->set_remade_relations(std::move(remade));
}

udb_view_list pelmora_convertor::run::views_of_run() const
{
    // The console's --views asks for every view; the wizard converts the views its user
    // selected (its remembered convert-views flag is kept, not read).
    const bool all = c_.get_form() == convertor_form::console && c_.convert_views;
    return conversion_relations::views_to_convert(source_->get_views(), all, c_.selected_views);
}

void pelmora_convertor::run::end_on_lost(const lost_server& lost, const std::wstring& listed_name)
{
    // Nothing more can be read or written: the run ends here, keeping what was
    // committed, with one message instead of one per row.
    dest_->discard_deferred_indexes();
    throw lost_during(lost, listed_name);
}

void pelmora_convertor::run::finish_tables(finishing when)
{
    try {
        if (when == finishing::stopped)
            dest_->drop_returnable_steps();
        report_failure_of(udb_failure_kind::index, c_.get_current_table(), [&] {
            dest_->wait_for_deferred_work();
            if (when == finishing::stopped)
                dest_->take_back_early_keys();
        });
    } catch (const lost_server& lost) {
        if (when == finishing::after_last_item) {
            dest_->discard_deferred_indexes();
            throw lost_after_rows(lost);
        }
        end_on_lost(lost, c_.get_current_table());
    }
}

void pelmora_convertor::run::offer_ready_keys(const udb_work_item& item, bool finished)
{
    // Keys are structure, made also when only definitions are converted; without indexes a
    // parent has no key to refer to, so none are made (create_keys_and_views).
    if (c_.skip_idx || c_.stop_requested())
        return;
    if (finished && item.second.empty())
        relations_.table_finished(item.first);
    // A key whose referenced table was still being finished at an earlier item may be ready
    // now, whatever this item did.
    relations_.create_ready_keys(source_->get_relationships(), *dest_);
}

connection_lost_exception pelmora_convertor::run::lost_after_rows(const lost_server& lost)
{
    // Every table's rows are in: what is missing is the keys, indexes and views not made yet.
    return connection_lost_exception(std::string("Lost the connection to the ") + lost.server +
                                     " server after the last table's rows, while creating keys, foreign keys and "
                                     "views. The conversion was ended.");
}

void pelmora_convertor::run::create_keys_and_views()
{
    // Keys are structure: created also when only definitions are converted. Without
    // indexes a parent has no key to refer to, so none are created then.
    if (c_.skip_idx) {
        tk_write_log(3, "Tables were created without indexes: their foreign keys are not created");
        // Said where the user reads it: without indexes no table has a key to refer to.
        if (!source_->get_relationships().empty())
            progress(L"Tables were created without indexes: their foreign keys were not created\r\n");
    } else
        relations_.create_keys(source_->get_relationships(), *dest_);
    // A table the run could not overwrite lost its keys to the tables it did overwrite: those
    // the source gives are made again above (or reported there); any other is reported here.
    if (auto* live = dynamic_cast<pgs_database*>(dest_.get())) {
        std::vector<pgs_database::dropped_key> lost;
        report_failure_of(udb_failure_kind::foreign_key, std::wstring(),
                          [&] { lost = live->keys_lost_with_kept_tables(); });
        for (const pgs_database::dropped_key& key : lost) {
            if (!c_.skip_idx && relations_.took_up_key(key.table, key.name)) continue;
            tk_write_wlog(3, L"Foreign key '%s' of table '%s' was lost", key.name.c_str(), key.table.c_str());
            udb_failure f = failure_named(
                udb_failure_kind::foreign_key, std::wstring(),
                c_.skip_idx ? L"It was dropped with the table it refers to, which the run made again without "
                              L"indexes; it was not made again."
                            : L"It was dropped with the table it refers to, which the run made again; the source "
                              L"has no such key, so it was not made again.");
            f.object = L"Foreign key '" + key.name + L"' of table '" + key.table + L"'";
            udb_report_failure(f);
        }
    }
    // A view asked for by name (a profile's list) that the source lacks is said, as a
    // missing table is, rather than left out unnoticed.
    const udb_view_list& source_views = source_->get_views();
    udb_view_list wanted;
    for (const udb_view& view : views_of_run()) {
        const bool in_source = std::any_of(source_views.begin(), source_views.end(),
                                           [&](const udb_view& v) { return v.first == view.first; });
        if (in_source) {
            wanted.push_back(view);
            continue;
        }
        tk_write_wlog(3, L"View '%s' does not exist", view.first.c_str());
        udb_report_failure(failure_named(udb_failure_kind::view, std::wstring(),
                                         L"View '" + view.first + L"' does not exist in the source database '" +
                                             c_.get_source() + L"'"));
    }
    const udb_view_list views = conversion_relations::in_dependency_order(wanted);
    if (!views.empty()) {
        dest_->set_view_schema(c_.pgs_schema);
        // A view's names follow the names the run gave its tables and their columns.
        dest_->set_view_names(relations_.view_names(*dest_, c_.pgs_schema, c_.get_pgs_engine().is_case_sens));
        dest_->create_views(views);
        for (const auto& [view, name] : dest_->view_names()->renamed)
            progress(tk_wformat(L"View '%s' is converted as '%s'\r\n", view.c_str(), name.c_str()));
    }
}

// ---------------------------------------------------------------------------

void pelmora_convertor::operator()()
{
    tk_write_log(2, "pelmora_convertor::operator()");
    conversion_outcome result = conversion_outcome::failed;
    failures.clear();
    m_stopped_at = stop_point();
    // Every failure reported during the run counts here, whichever thread or side meets it.
    udb_failure_counting counting(failures);
    {
        init_conversion scope(m_finished, 0);
        tk_write_log(2, "b_case_sens=%d", b_case_sens ? 1 : 0);
        try {
            run r(*this);
            result = r.execute();
        } catch (const tk_final_exception&) {
            tk_write_log(3, "The conversion was aborted");
            result = conversion_outcome::aborted;
        } catch (const tk_exception& e) {
            result = conversion_outcome::failed;
            m_outcome.store(result, std::memory_order_release);
            report(e, true);
        } catch (const std::exception& e) {
            tk_write_log(3, "ERROR:\n%s", e.what());
            result = conversion_outcome::failed;
            m_outcome.store(result, std::memory_order_release);
            get_frontend_hooks().unexpected_error(e.what());
        } catch (...) {
            // Not an error of the run (a front end unwinding to end the
            // program): recorded, then passed on.
            m_outcome.store(conversion_outcome::failed, std::memory_order_release);
            throw;
        }
        m_outcome.store(result, std::memory_order_release);
    }
}

// ---------------------------------------------------------------------------

std::wstring source_table_name(const std::unordered_set<std::wstring>& source_tables, const std::wstring& listed,
                               const std::function<bool(const std::wstring&)>& server_takes)
{
    auto has = [&](const std::wstring& name) { return source_tables.count(name) != 0; };
    if (has(listed))
        return listed;
    // A blank at an end of a line of a list is a slip far more often than a
    // part of a name: the exact name above wins where the source has one.
    const std::wstring trimmed = tk_trim(listed);
    if (trimmed.empty())
        return std::wstring();
    if (has(trimmed))
        return trimmed;
    // Another spelling of a name is that table only where the server itself
    // takes it so; on a server that keeps the case CASET is not CaseT.
    std::wstring found;
    for (const std::wstring& name : source_tables) {
        if (!tk_equal_no_case(name, trimmed))
            continue;
        if (!found.empty())
            return std::wstring();  // more than one: which one was meant cannot be told
        found = name;
    }
    if (found.empty() || !server_takes || !server_takes(trimmed))
        return std::wstring();
    return found;
}
