#pragma once
// The one conversion object of a process: every setting of one conversion, both
// database engines (through its two halves), the user's type mappings, the
// progress counters, the source questions the front ends ask (tables, views,
// one table's columns), destination preparation, profiles, and the run itself
// as its operator() (a thread work object: the wizard runs it on a worker
// thread, the console on its only thread).

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "TK/tk_registry.h"
#include "TK/tk_singleton.h"
#include "UDB/udb_database.h"
#include "driver/conversion_failures.h"
#include "driver/mysql_converter_impl.h"
#include "driver/pgs_converter_impl.h"
#include "driver/udb_converter.h"
#include "pg_target/pgs_mutator.h"

class pgs_base_db;
class udb_profile;

// Which program builds the object: the console clears five switches at
// construction and converts every source table when nothing is selected; the
// wizard loads and stores its remembered settings itself.
enum class convertor_form { console, wizard };

// How the last run ended.
enum class conversion_outcome {
    not_run,    // no run yet
    completed,  // every item was handled (items may have failed and been reported)
    stopped,    // a stop request ended it early
    aborted,    // the user chose Abort in a report
    failed,     // an error before the first item, or an unexpected exception
};

// The registry key of the wizard's remembered settings.
inline constexpr const char* pelmora_settings_key = "Software\\Quorvane\\Tessalane";

class pelmora_convertor : public udb_converter,
                          public pgs_converter_impl,
                          public mysql_converter_impl,
                          public tk_serializer,
                          public pgs_db_mutator,
                          public tk_singleton<pelmora_convertor> {
public:
    explicit pelmora_convertor(convertor_form form = convertor_form::console);
    ~pelmora_convertor() override;

    // The conversion run. Catches everything it meets; afterwards outcome()
    // tells how it ended and the finished flag is set.
    void operator()() override;
    bool test_query(const std::wstring& query_text) override;
    // Why the source server refuses the query, in its own words ("" when it
    // would run it); the query is prepared, never run. Errors of reaching the
    // source (a lost connection, a missing database) are thrown as they are.
    std::string query_refusal(const std::wstring& query_text);

    // Every table name of the source database.
    std::vector<std::wstring>& get_all_tables(std::vector<std::wstring>& list);
    // Every view (name, definition) of the source database.
    udb_view_list& get_all_views(udb_view_list& list);
    // The columns of one source table (shared descriptors) with its seed and
    // increment. A table the source lacks gives tk_exception (level 1) naming it.
    udb_schema& get_schema(udb_schema& schema, const std::wstring& table_name);

    // Prepares the destination before a run: drops a live destination
    // database in mode 0; checks a script path (an existing script is
    // replaced only when the run finishes it). Refuses, before anything is
    // dropped, a selection of which the source holds no table.
    // Throws tk_exception; the caller reports it. The source database must
    // exist (the MySQL engine connected) before anything is dropped.
    void check_dest();
    // Throws tk_exception (level 1) when tables are selected and none of them
    // (nor any listed item) is in the source database, and no custom query is
    // listed: nothing would be converted.
    void check_listed_tables_exist();
    // Opens (or creates) the destination of the run; owned by the caller.
    std::unique_ptr<pgs_base_db> get_dest_base();

    // Profiles.
    bool load_profile_file(const std::wstring& path);
    bool load_profile(udb_profile& profile);
    bool store_profile_file(const std::wstring& path);
    bool store_profile(udb_profile& profile);

    // A stop request: one asked by request_stop(), or the flag given to
    // stop_on_flag() turned non-zero. Every check of the run asks here.
    bool stop_requested() const noexcept
    {
        const std::atomic<int>* flag = m_stop_flag.load(std::memory_order_acquire);
        return tk_converter::stop_requested() || (flag && flag->load(std::memory_order_acquire) != 0);
    }
    // A run checks this flag as well as its own stop request: the console
    // passes the one its signal handler sets (a handler may only store to a
    // lock-free atomic; request_stop() takes a lock). Null stops watching.
    void stop_on_flag(const std::atomic<int>* flag) noexcept { m_stop_flag.store(flag, std::memory_order_release); }

    // Where the last run was when a stop request ended it, read once the run
    // has ended: the table whose rows were being copied ("" when the stop came
    // between tables) and how many of its rows reached the destination for
    // good (live: committed; script: written). Cleared when a run starts.
    struct stop_point {
        std::wstring table;
        std::uint64_t rows_kept = 0;
    };
    const stop_point& stopped_at() const noexcept { return m_stopped_at; }

    conversion_outcome outcome() const noexcept { return m_outcome.load(std::memory_order_acquire); }
    // An error before the first item or an unexpected exception ended the
    // last run: front ends exit with -1.
    bool ended_abnormally() const noexcept { return outcome() == conversion_outcome::failed; }

    convertor_form get_form() const noexcept { return m_form; }

    // The wizard's remembered settings (the settings file of
    // pelmora_settings_key): store true writes them, false reads them, giving
    // each field its preset first where it has one, so a missing value leaves
    // the preset. True only when every value was read or written. The wizard
    // form loads them when built and stores them when destroyed; the console
    // form never touches them.
    bool serialize(bool store);

    // What the last run left out; cleared when a run starts.
    conversion_failures failures;

    // --- settings of the object itself ---
    bool b_case_sens = false;     // shown and remembered; the naming reads pgs_engine::is_case_sens
    bool b_direct = true;         // live database (true) or script file (false)
    std::wstring conn_db_name;    // database named on the PostgreSQL settings page
    // Console form: with no table selected and no item listed, every source
    // table is converted.
    bool all_tables_when_empty = false;
    // Last field of the script's "created by" text.
    std::string creator_suffix;

    // The destination database mode the run opens a live destination with.
    static std::int32_t dest_mode_for(int n_mode) noexcept;

private:
    class run;  // one conversion run (conversion_run.cpp)
    friend class run;

    convertor_form m_form;
    std::atomic<conversion_outcome> m_outcome{conversion_outcome::not_run};
    std::atomic<const std::atomic<int>*> m_stop_flag{nullptr};
    stop_point m_stopped_at;
};
