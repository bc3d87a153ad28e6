#pragma once
// The one place where a caught tk_exception becomes something the user sees.
// A process-wide singleton built by each entry point right after the logger.
// It turns an error code into a user text (two tables: the PostgreSQL one for
// the constructor, the MySQL one for load_err_map), shows a failure of a run
// (udb_failure) prefixed with where it happened, keeps a flag that silences
// reports, and reaches the user through the front-end hooks:
//   level 2  internal error: shown, then the program ends with -1;
//   level 1  error: shown; the console then ends with -1;
//   level 0  the user may continue, or abort the run (tk_final_exception).

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "TK/tk_exception.h"
#include "TK/tk_singleton.h"
#include "UDB/udb_failure.h"

// The PostgreSQL error-code table (2 entries) and the MySQL one (12 entries),
// keyed by 0x400000 + the MySQL error number.
extern const error_code_entry pgs_error_table[2];
extern const error_code_entry mysql_error_table[12];

class error_handler : public tk_singleton<error_handler> {
public:
    // The first error_handler built becomes the instance.
    error_handler(int entry_count, const error_code_entry* table);
    template <std::size_t N>
    explicit error_handler(const error_code_entry (&table)[N]) : error_handler(static_cast<int>(N), table) {}
    ~error_handler() override;

    // Adds a table to the code-to-text map (a code already present keeps its
    // first text).
    void load_err_map(int entry_count, const error_code_entry* table);
    template <std::size_t N>
    void load_err_map(const error_code_entry (&table)[N]) { load_err_map(static_cast<int>(N), table); }

    // Reports one exception by its level (see the top of this file). Returns
    // for levels 0 and 1 unless the front end ends the program; throws
    // tk_final_exception when the user aborts a level-0 report and top_level
    // is false; never returns for level 2. Suppressed reports are not shown,
    // except where the front end ends the program on errors (the console): an
    // error of level 1, and one that ended the run (top_level), always are.
    void handle(const tk_exception& e, bool top_level);
    // Shows one failure of a run as handle does an exception of its level (never
    // top level). The database sides and the run reach it through
    // udb_report_failure, which has counted the failure already.
    void report(const udb_failure& failure);

    // The user text of a report: the code's text or else the exception's own
    // message; line feeds kept.
    std::string form_message(const tk_exception& e) const;
    // The same for a failure, after where it happened and ": " ("orders, record
    // #7: ...", "Index 'i' of table 't': ...").
    std::string form_message(const udb_failure& failure) const;

    bool is_suppressed() const noexcept { return m_suppress; }
    void set_suppressed(bool on) noexcept { m_suppress = on; }

    // Help topics that a level-1 report of a code opens (empty unless a front
    // end adds some).
    void add_help_topic(int code, int topic) { m_help_topics.emplace(code, topic); }

    // The reported messages (line feeds turned into blanks), at most 20: the
    // wizard's finish page lists them.
    static constexpr std::size_t max_listed_errors = 20;
    std::vector<std::string> get_error_list() const;
    // Every level 0 / 1 report made so far (also those past the list's limit).
    std::size_t get_report_count() const;

private:
    void show(std::string message, int level, int code, bool top_level);

    mutable std::mutex m_mutex;  // the error list: a report may come from the run's thread
    std::atomic<bool> m_suppress{false};
    std::multimap<int, int> m_help_topics;
    tk_error_converter m_err_map;
    std::vector<std::string> m_error_list;
    std::size_t m_report_count = 0;
};
