#include "UDB/udb_custom_conversion.h"

#include "TK/tk_exception.h"
#include "TK/tk_log.h"

udb_conversion_rule::~udb_conversion_rule() = default;

udb_custom_conversion::~udb_custom_conversion() = default;

namespace {

// The first rule that accepts, or nullptr. The registry is fetched again at
// every step: one that disappears during the walk is an internal error.
template <class Accepts>
udb_conversion_rule* first_accepting(Accepts accepts)
{
    udb_custom_conversion* registry = udb_custom_conversion::try_instance();
    if (!registry) return nullptr;
    for (std::size_t i = 0; i < udb_custom_conversion::get_instance()->get_rules().size(); ++i) {
        udb_conversion_rule* rule = udb_custom_conversion::get_instance()->get_rules()[i];
        if (rule && accepts(*rule)) return rule;
    }
    return nullptr;
}

bool has_rules()
{
    udb_custom_conversion* registry = udb_custom_conversion::try_instance();
    return registry && !registry->get_rules().empty();
}

}  // namespace

bool udb_custom_conversion::is_acceptable1(const t_ftd& column)
{
    tk_write_log(1, "udb_custom_conversion::is_acceptable1");
    return first_accepting([&](udb_conversion_rule& r) { return r.accepts_column(column); }) != nullptr;
}

std::wstring udb_custom_conversion::handle1(const t_ftd& column)
{
    tk_write_log(1, "udb_custom_conversion::handle1");
    udb_conversion_rule* rule = first_accepting([&](udb_conversion_rule& r) { return r.accepts_column(column); });
    return rule ? rule->column_text(column) : std::wstring();
}

bool udb_custom_conversion::is_acceptable2(const udb_field& field)
{
    tk_write_log(1, "udb_custom_conversion::is_acceptable2");
    return first_accepting([&](udb_conversion_rule& r) { return r.accepts_value(field); }) != nullptr;
}

std::wstring udb_custom_conversion::handle2(const udb_field& field)
{
    tk_write_log(1, "udb_custom_conversion::handle2");
    if (!has_rules()) return std::wstring();
    udb_conversion_rule* rule = first_accepting([&](udb_conversion_rule& r) { return r.accepts_value(field); });
    if (!rule) throw tk_mail_assertion("udb_rule", 88);
    return rule->value_text(field);
}
