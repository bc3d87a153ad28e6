#pragma once
// The exception family of the system: every error it raises is a tk_exception
// with a message for the user, an error code that may select a better user
// text (tk_error_converter) and a level that tells the error handler what to
// do: 0 the user may continue or abort, 1 error, 2 internal error.

#include <cstdint>
#include <exception>
#include <map>
#include <string>

class tk_exception : public std::exception {
public:
    // An empty text gives "Unknown exception".
    tk_exception(const char* text, int level = 1);
    tk_exception(const std::string& text, int level = 1);
    // The wide text is kept as UTF-8; an empty wide text gives an empty message.
    tk_exception(const wchar_t* text, int level = 1);
    tk_exception(const std::wstring& text, int level = 1);
    // Message "Unknown exception".
    explicit tk_exception(int level = 1);
    ~tk_exception() override = default;

    tk_exception(const tk_exception&) = default;
    tk_exception& operator=(const tk_exception&) = default;

    const char* what() const noexcept override { return m_message.c_str(); }

    const std::string& get_message() const noexcept { return m_message; }
    int get_error_code() const noexcept { return m_error_code; }
    int get_level() const noexcept { return m_level; }
    // Short spellings of the same accessors.
    int error_code() const noexcept { return m_error_code; }
    int level() const noexcept { return m_level; }

    void set_message(std::string message) { m_message = std::move(message); }
    void set_error_code(int code) noexcept { m_error_code = code; }
    void set_level(int level) noexcept { m_level = level; }

private:
    std::string m_message;
    int m_error_code = 0;
    int m_level = 1;
};

// An error of the operating system: the code is the thread's last system error
// (errno) at construction and the message is the caller's text followed by the
// system's text for it ("Unknown exception" when the system has no text).
// Build it right where the failure was met, before any other system call.
class tk_exception_ex : public tk_exception {
public:
    explicit tk_exception_ex(const char* text, int level = 1);
    tk_exception_ex(const std::string& text, int level);
    tk_exception_ex();  // empty text, level 1
    // Same, with the system error given explicitly instead of read from errno.
    tk_exception_ex(const std::string& text, int level, int system_error);

private:
    void append_system_message(const std::string& text, int system_error);
};

// A broken internal precondition (level 2, code 0). The message is
// "Internal error: \ncode=" followed by "file\line" in lower-case hexadecimal.
class tk_mail_assertion : public tk_exception {
public:
    tk_mail_assertion(const char* source_file, int line);
};

// The user's Abort: ends the run. Derives from std::exception only and carries
// no code or level.
class tk_final_exception : public std::exception {
public:
    tk_final_exception();
    tk_final_exception(const tk_final_exception&) noexcept = default;
    tk_final_exception& operator=(const tk_final_exception&) noexcept = default;
    const char* what() const noexcept override { return "Unknown exception"; }
};

// Builds the message text of a tk_mail_assertion (exposed for the error
// handler and tests).
std::string make_err_meggase(const char* source_file, int line);

struct error_code_entry {
    std::int32_t code;
    const char* text;
};

// Error code to user text. The first text loaded for a code wins, also across
// several tables.
class tk_error_converter {
public:
    tk_error_converter(int entry_count, const error_code_entry* table);
    template <std::size_t N>
    explicit tk_error_converter(const error_code_entry (&table)[N])
        : tk_error_converter(static_cast<int>(N), table) {}

    void load_map(int entry_count, const error_code_entry* table);
    template <std::size_t N>
    void load_map(const error_code_entry (&table)[N]) { load_map(static_cast<int>(N), table); }

    // The text for the code, or an empty text.
    std::string convert(int code) const;

private:
    std::map<std::uint32_t, std::string> m_map;
};
