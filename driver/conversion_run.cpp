// The conversion run: the source database, the destination, then one work item
// after the other (custom queries and tables), each created by the mode for an
// existing destination and filled row by row. Errors are caught at three
// depths: the row (by mode), the item (reported, the run goes on) and the
// whole run (reported, the run ends).
#include "driver/conversion_run.h"

#include <algorithm>
#include <ctime>

#include "SQL/sql_engine.h"
#include "TK/tk_format.h"
#include "TK/tk_log.h"
#include "TK/tk_strings.h"
#include "driver/error_handler.h"
#include "driver/frontend_hooks.h"
#include "driver/pelmora_convertor.h"
#include "pg_target/pgs_database.h"
#include "pg_target/pgs_dmp_recordset.h"
#include "pg_target/pgs_dump.h"
#include "pg_target/pgs_encoding.h"
#include "pg_target/pgs_exception.h"
#include "pg_target/pgs_quote.h"
#include "pg_target/pgs_recordset.h"
#include "pg_target/pgs_validators.h"

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

void set_prefix(const std::wstring& name)
{
    if (error_handler* eh = error_handler::try_instance())
        eh->set_prefix(name);
}

void set_prefix(const std::wstring& name, std::uint64_t record_number)
{
    if (error_handler* eh = error_handler::try_instance())
        eh->set_prefix(name, static_cast<std::int64_t>(record_number));
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

// Merge keeps the rows already in the table: a row refused only because its
// key exists there is passed over without a word. Every other refusal is
// reported, in every mode.
bool is_silent_refusal(int mode, const std::string& sqlstate)
{
    return mode == udb_mode_merge && sqlstate == pgs_sqlstate_unique_violation;
}

}  // namespace

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
    void report_rejected(const std::wstring& listed_name, const pgs_rows_rejected_exception& e,
                         const std::vector<std::uint64_t>& skipped);
    std::pair<std::wstring, std::wstring> split_full_name(const std::wstring& full) const;

    pelmora_convertor& c_;
    frontend_hooks& hooks_;
    // Released in reverse order: validator, destination, source.
    std::unique_ptr<udb_database> source_;
    std::unique_ptr<pgs_base_db> dest_;
    std::unique_ptr<pgs_tn_validator> validator_;
};

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

    // The work list: the listed items, then the selected tables. A table
    // listed twice (names equal ignoring case) is converted once.
    const std::size_t listed = c_.query_list.size();
    auto is_listed_table = [&](const std::wstring& name, std::size_t end) {
        for (std::size_t i = 0; i < end; ++i)
            if (c_.query_list[i].second.empty() && tk_equal_no_case(c_.query_list[i].first, name))
                return true;
        return false;
    };
    std::vector<std::size_t> plan;
    for (std::size_t i = 0; i < listed; ++i) {
        if (c_.query_list[i].second.empty() && is_listed_table(c_.query_list[i].first, i)) {
            tk_write_wlog(3, L"Table '%s' is listed more than once; it is converted once",
                          c_.query_list[i].first.c_str());
            continue;
        }
        plan.push_back(i);
    }
    std::vector<std::wstring> appended;
    for (const std::wstring& table : c_.selected_tables) {
        bool twice = is_listed_table(table, listed);
        for (const std::wstring& a : appended)
            twice = twice || tk_equal_no_case(a, table);
        if (twice) {
            tk_write_wlog(3, L"Table '%s' is listed more than once; it is converted once", table.c_str());
            continue;
        }
        appended.push_back(table);
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

    for (std::size_t index : plan) {
        if (c_.stop_requested()) {
            tk_write_log(3, "The conversion was stopped");
            return conversion_outcome::stopped;
        }
        const udb_work_item item = c_.query_list[index];  // a copy: the item outlives no list change
        c_.set_current_table(item.first);
        c_.records_done.store(0, std::memory_order_relaxed);
        c_.record_count.store(0, std::memory_order_relaxed);
        item_result result = item_result::done;
        try {
            result = convert_item(item);
        } catch (const tk_exception& e) {
            set_prefix(item.first);
            report(e, false);
        }
        c_.items_done.fetch_add(1, std::memory_order_relaxed);
        if (result == item_result::stopped) {
            tk_write_log(3, "The conversion was stopped");
            return conversion_outcome::stopped;
        }
    }

    if (error_handler* eh = error_handler::try_instance())
        eh->clear_prefix();
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

pelmora_convertor::run::item_result pelmora_convertor::run::convert_item(const udb_work_item& item)
{
    const std::wstring& listed_name = item.first;
    const bool is_table = item.second.empty();
    if (is_table && !source_->is_table_exist(listed_name)) {
        tk_write_wlog(3, L"Table %s not exists", listed_name.c_str());
        hooks_.missing_table(listed_name);
        return item_result::done;
    }

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

    std::wstring full_name = pgs_base_db::make_safe_tname(new_name, c_.pgs_schema);
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
            return item_result::done;
        case udb_mode_overwrite_tables:
            dest_->delete_tab(full_name);
            break;
        case udb_mode_merge:
        case udb_mode_synchronize:
            // Existing rows may collide with new ones: this table's rows go by
            // INSERT, whose conflict clause keeps or replaces the existing row
            // (the user's COPY setting stays as it is for the other tables).
            rows_by_insert = true;
            break;
        default:
            break;
        }
    }

    // The indexes of a table created here are built once its recordset is gone
    // (its last rows committed, its sequence set), whichever way the item ends.
    struct deferred_indexes_guard {
        pgs_base_db& db;
        ~deferred_indexes_guard()
        {
            try {
                db.build_deferred_indexes();
            } catch (const std::exception& e) {
                tk_write_log(3, "ERROR: %s", e.what());
            }
        }
    } indexes_after_rows{*dest_};
    std::unique_ptr<udb_recordset> dst = dest_->create_table1(full_name, columns, indexes);
    indexes.clear();
    if (!dst)
        throw tk_exception(L"The destination table " + full_name + L" could not be opened.", 1);

    if (rows_by_insert) {
        if (auto* live = dynamic_cast<pgs_recordset*>(dst.get()))
            live->set_rows_by_insert(true);
        else if (auto* script = dynamic_cast<pgs_dmp_recordset*>(dst.get()))
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

    bool finished = true;
    if (c_.record_count.load() != 0 && !c_.tab_def)
        finished = copy_rows(listed_name, *src, *dst, tm);

    dst.reset();
    src.reset();
    return finished ? item_result::done : item_result::stopped;
}

bool pelmora_convertor::run::copy_rows(const std::wstring& listed_name, udb_recordset& src, udb_recordset& dst,
                                       pgs_table_mutator* tm)
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
    std::vector<std::uint64_t> skipped;  // source rows that never reached append_record

    src.reset();
    while (!src.is_eof()) {
        if (c_.stop_requested())
            return false;
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
        } catch (const pgs_rows_rejected_exception& e) {
            // Rows of an earlier batch were refused; this row has been written.
            report_rejected(listed_name, e, skipped);
        } catch (const pgs_exception& e) {
            tk_write_log(2, "pgs_exception: n_mode=%d, error=%d, sqlstate=%s", mode, e.get_error_code(),
                         e.sqlstate().c_str());
            if (!is_silent_refusal(mode, e.sqlstate())) {
                set_prefix(listed_name, row_number);
                report(e, false);
            }
        } catch (const tk_exception& e) {
            // A row that cannot be converted fails alone; worse errors fail the item.
            if (e.get_level() != 0)
                throw;
            if (!out && (skipped.empty() || skipped.back() != row_number))
                skipped.push_back(row_number);
            set_prefix(listed_name, row_number);
            report(e, false);
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
            report_rejected(listed_name, e, skipped);
        }
    }
    return true;
}

void pelmora_convertor::run::report_rejected(const std::wstring& listed_name, const pgs_rows_rejected_exception& e,
                                             const std::vector<std::uint64_t>& skipped)
{
    for (const pgs_rejected_row& row : e.rows()) {
        if (is_silent_refusal(c_.n_mode, row.sqlstate)) {
            tk_write_wlog(2, L"%s: row %llu kept its existing key", listed_name.c_str(),
                          static_cast<unsigned long long>(row.record_number));
            continue;
        }
        set_prefix(listed_name, source_row_of(row.record_number, skipped));
        report(pgs_exception(row.message), false);
    }
}

// ---------------------------------------------------------------------------

void pelmora_convertor::operator()()
{
    tk_write_log(2, "pelmora_convertor::operator()");
    conversion_outcome result = conversion_outcome::failed;
    failures.clear();
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
