#include "UDB/udb_database.h"

#include "TK/tk_exception.h"
#include "TK/tk_log.h"
#include "TK/tk_strings.h"

udb_database::udb_database(std::wstring name_, std::int32_t mode_, bool case_sensitive_)
    : mode(mode_), name(std::move(name_)), case_sensitive(case_sensitive_)
{
    tk_write_wlog(2, L"udb_database::ctor(%s,%d)", name.c_str(), int(mode));
}

udb_database::~udb_database()
{
    tk_write_log(2, "udb_database::dtor");
}

void udb_database::create_schema(const std::wstring&) {}

std::unique_ptr<udb_recordset> udb_database::create_table2(const std::wstring&, udb_schema&, udb_indexes&,
                                                           const udb_partition&)
{
    tk_write_log(2, "udb_database::create_table(partition)");
    throw tk_mail_assertion("udb_db", 50);
}

void udb_database::create_index(const std::wstring&, const udb_index&) {}

void udb_database::create_indexes(const std::wstring& table, const udb_indexes& indexes)
{
    tk_write_wlog(2, L"udb_database::create_indexes(%s)", table.c_str());
    tk_write_log(1, "idxs.size=%d", int(indexes.size()));
    for (const auto& index : indexes) create_index(table, index);
    tk_write_wlog(1, L"udb_database::create_indexes - at the END", table.c_str());
}

void udb_database::create_sequences(const std::vector<udb_sequence>&) {}
void udb_database::create_views(const udb_view_list&) {}
void udb_database::delete_fk(const std::wstring&) {}
void udb_database::delete_fk(const udb_relationship&) {}
void udb_database::delete_idx(const std::wstring&, const std::wstring&) {}
void udb_database::delete_idx(const std::wstring&, const udb_index&) {}

void udb_database::update_name_index() const
{
    name_index& ix = m_name_index;
    if (ix.data != table_names.data() || ix.count > table_names.size() ||
        (ix.count > 0 && table_names[ix.count - 1] != ix.last)) {
        ix.exact.clear();
        ix.folded.clear();
        ix.count = 0;
        ix.data = table_names.data();
    }
    for (; ix.count < table_names.size(); ++ix.count) {
        const std::wstring& n = table_names[ix.count];
        ix.exact.try_emplace(n, int(ix.count));
        ix.folded.try_emplace(fold_table_name(n), int(ix.count));
    }
    if (ix.count > 0 && ix.last != table_names[ix.count - 1]) ix.last = table_names[ix.count - 1];
}

std::wstring udb_database::fold_table_name(std::wstring_view name) const { return tk_fold_case(name); }

int udb_database::find_table(const std::wstring& table) const
{
    // A lookup in sets, not a scan of every name: the cost of a table does not grow with the
    // tables before it. A hit the list no longer confirms (names removed inside it) has the list
    // indexed again and is looked up once more.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (attempt) m_name_index.data = nullptr;
        update_name_index();
        const auto at = [&](int i) -> const std::wstring* {
            return i >= 0 && std::size_t(i) < table_names.size() ? &table_names[std::size_t(i)] : nullptr;
        };
        bool stale = false;
        // The exact spelling first: a server that keeps the case may hold CaseT and caset both.
        auto e = m_name_index.exact.find(table);
        if (e != m_name_index.exact.end()) {
            const std::wstring* n = at(e->second);
            if (n && *n == table) return e->second;
            stale = true;
        }
        if (!case_sensitive) {
            const std::wstring folded = fold_table_name(table);
            auto f = m_name_index.folded.find(folded);
            if (f != m_name_index.folded.end()) {
                const std::wstring* n = at(f->second);
                if (n && fold_table_name(*n) == folded) return f->second;
                stale = true;
            }
        }
        if (!stale) return -1;
    }
    return -1;
}

bool udb_database::delete_tab(const std::wstring& table)
{
    tk_write_wlog(2, L"udb_database::delete_tab(%s)", table.c_str());
    const int i = find_table(table);
    if (i < 0) {
        tk_write_log(2, "Table not found!");
        return false;
    }
    table_names.erase(table_names.begin() + i);
    m_name_index.data = nullptr;
    return true;
}

bool udb_database::is_table_exist(const std::wstring& table) const
{
    tk_write_wlog(2, L"udb_database::is_table_exist(%s,case_sensitive=%d)", table.c_str(), int(case_sensitive));
    if (table_names.empty()) tk_write_log(2, "Tables list is EMPTY!");
    if (find_table(table) >= 0) {
        tk_write_log(1, "table exists");
        return true;
    }
    tk_write_log(1, "table not found");
    return false;
}

void udb_database::empty_table(const std::wstring& table)
{
    tk_write_wlog(2, L"udb_database::empty_table(%s)", table.c_str());
    query(L"delete from " + quote_table_name(table));
}

std::unique_ptr<udb_recordset> udb_database::query(const std::wstring&)
{
    throw tk_mail_assertion("udb_db", 111);
}

void udb_database::get_schema_info(std::vector<std::wstring>& schemas)
{
    schemas.clear();
}

void udb_database::create_relationships(const std::vector<udb_relationship>&) {}

void udb_database::add_tn_mapping(const std::wstring& old_name, const std::wstring& new_name)
{
    tk_write_wlog(2, L"udb_database::add_tn_mapping(%s->%s)", old_name.c_str(), new_name.c_str());
    names_map.add_tn_mapping(old_name, new_name);
}

bool udb_database::is_select_query(const std::wstring& text)
{
    tk_write_wlog(1, L"udb_database::is_select_query(%s)", text.c_str());
    static const std::wstring select = L"select";
    if (tk_wstring::starts_with(text, select, false)) return true;
    std::size_t i = 0;
    while (i < text.size() && (text[i] == L' ' || text[i] == L'(')) ++i;
    // More than six characters must remain after the skipped ones.
    return text.size() - i > select.size() &&
           tk_equal_no_case(std::wstring_view(text).substr(i, select.size()), select);
}
