#pragma once
// A hook through which writers of SQL text can hand two decisions to
// user-supplied rules: the type text of a column in CREATE TABLE and the
// literal text of a field value in INSERT or UPDATE. The rules live in a
// process-wide registry (the udb_custom_conversion singleton); without one
// every hook answers that no rule applies. Call is_acceptable1/2 first and
// handle1/2 only when it answered true.

#include <string>
#include <vector>

#include "TK/tk_singleton.h"
#include "UDB/udb_field.h"
#include "UDB/udb_schema.h"

// One user rule.
class udb_conversion_rule {
public:
    virtual ~udb_conversion_rule();
    virtual bool accepts_value(const udb_field& field) = 0;
    virtual bool accepts_column(const t_ftd& column) = 0;
    virtual std::wstring value_text(const udb_field& field) = 0;
    virtual std::wstring column_text(const t_ftd& column) = 0;
};

class udb_custom_conversion : public tk_singleton<udb_custom_conversion> {
public:
    udb_custom_conversion() = default;
    ~udb_custom_conversion() override;

    // The rules in the order they are asked; not owned.
    std::vector<udb_conversion_rule*>& get_rules() noexcept { return m_rules; }
    void add_rule(udb_conversion_rule* rule) { m_rules.push_back(rule); }

    // Whether some rule takes the column.
    static bool is_acceptable1(const t_ftd& column);
    // The first accepting rule's type text for the column; empty when none.
    static std::wstring handle1(const t_ftd& column);
    // Whether some rule takes the field value.
    static bool is_acceptable2(const udb_field& field);
    // The first accepting rule's value text; an internal error when rules
    // exist but none accepts (ask is_acceptable2 first).
    static std::wstring handle2(const udb_field& field);

private:
    std::vector<udb_conversion_rule*> m_rules;
};
