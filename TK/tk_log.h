#pragma once
// The process-wide trace log. Each program's entry point builds one tk_logger
// (off, minimum level 3, no time stamps); all code writes through
// tk_write_log / tk_write_wlog. Levels: 1 traces, 2 method entry and progress,
// 3 milestones, warnings and errors.
//
// File format: one line per call, "hh:mm:ss " when time stamps are on, the
// message, CR LF. Wide messages are written as UTF-8, narrow ones byte for
// byte. The file is emptied by the first call after logging is switched on.

#include <atomic>
#include <string>

#include "TK/tk_singleton.h"

class tk_logger : public tk_singleton<tk_logger> {
public:
    // file_name nullptr: default_file_name().
    tk_logger(const char* file_name, bool enabled, int min_level, bool time_stamps);
    ~tk_logger() override;

    // The program's path with its extension replaced by ".log".
    static std::string default_file_name();

    // Empties the file once per run, when logging is on.
    void truncate_once();

    // A null name is an internal error.
    void set_file_name(const char* file_name);
    void set_file_name(const std::string& file_name) { set_file_name(file_name.c_str()); }
    void enable(bool on = true) { m_enabled.store(on); }

    std::string get_file_name() const;
    bool is_enabled() const noexcept { return m_enabled.load(); }
    int get_min_level() const noexcept { return m_min_level; }
    bool has_time_stamps() const noexcept { return m_time_stamps; }

    // Appends one finished line (without its line end) under the log lock.
    // Used by the two writers below.
    void write_line(int level, const std::string& text);

    // The first failure to write the file since it was named or switched on:
    // the file's name and the system's reason ("" when every line was
    // written). Writing goes on after a failure; a program that keeps a log
    // asks here whether the log it promised is there.
    std::string get_write_error() const;

private:
    // Keeps the first failure (under the log lock).
    void note_failure(int error_number);

    std::string m_file_name;
    int m_min_level;
    std::atomic<bool> m_enabled;
    std::atomic<bool> m_emptied{false};
    bool m_time_stamps;
    std::string m_write_error;
};

// Narrow format: %s takes a narrow text (written byte for byte), %S a wide one.
void tk_write_log(int level, const char* format, ...);

// Wide format: %s takes a wide text and %S a narrow (UTF-8) one; the message
// is cut to 10,239 characters and written as UTF-8.
void tk_write_wlog(int level, const wchar_t* format, ...);

// Whether a line of this level would be written now (cheap; lets a caller skip
// building costly arguments).
bool tk_log_wants(int level) noexcept;
