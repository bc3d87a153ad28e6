#pragma once
// Command-line cursor of the console program: walks the narrow argument
// vector and matches each argument against a table of option prefixes.
//
// Matching is by prefix, byte for byte and case-sensitive, first entry wins;
// the table ends with the terminator {0, ""}, whose empty prefix begins every
// argument, so an argument that no real prefix begins lands there and counts
// as unrecognised (current id -1). Every unrecognised argument is kept, in
// order, however many there are.

#include <cstddef>
#include <vector>

// One entry of an option table: its id and the prefix an argument starts with.
struct cmd_line_option {
    int id;
    const char* prefix;
};

// The cursor's matching and its state; where the arguments come from is the
// derived class's.
class TCmdLine {
public:
    // The table is borrowed, not copied; it must end with {0, ""}.
    explicit TCmdLine(const cmd_line_option* options) noexcept : m_options(options) {}
    virtual ~TCmdLine() = default;
    TCmdLine(const TCmdLine&) = delete;
    TCmdLine& operator=(const TCmdLine&) = delete;

    // Steps to the next argument and matches it. Stepping past the last
    // argument is an internal error.
    virtual void next() = 0;
    // Whether an argument is left (the current one included).
    virtual bool has_more() const = 0;

    // Id of the current argument's entry, or -1 when it matched none.
    int get_current_id() const noexcept { return m_current_id; }
    // The rest of the current argument after the matched prefix (the whole
    // argument when unrecognised); empty text before the first match.
    const char* get_current_value() const noexcept { return m_current_value; }

    std::size_t get_unrecognised_count() const noexcept { return m_unrecognised.size(); }
    // The unrecognised arguments, in order.
    const std::vector<const char*>& get_unrecognised() const noexcept { return m_unrecognised; }

protected:
    // Matches one argument against the table. A null argument (none left) is
    // an internal error.
    void parse_current(const char* argument);

private:
    const cmd_line_option* m_options;
    const char* m_current_value = "";
    int m_current_id = -1;
    std::vector<const char*> m_unrecognised;
};

// The cursor over the process's narrow argument vector (argv[0] is the
// program and is skipped).
class ansi_cmd_line : public TCmdLine {
public:
    // Places the cursor on argv[1] and matches it when there is one.
    ansi_cmd_line(int argc, char* const* argv, const cmd_line_option* options);

    void next() override;
    bool has_more() const override { return m_left > 0; }

private:
    char* const* m_current;  // the current argument
    int m_left;              // arguments left, the current one included
};
