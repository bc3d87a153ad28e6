#include "SQL/sql_ddl_builders.h"

#include "SQL/sql_engine.h"
#include "SQL/sql_literals.h"
#include "SQL/sql_quote.h"
#include "SQL/sql_types.h"
#include "TK/tk_exception.h"
#include "TK/tk_log.h"
#include "TK/tk_strings.h"
#include "UDB/udb_custom_conversion.h"
#include "UDB/udb_properties.h"
#include "UDB/udb_validator.h"

namespace {

constexpr std::uint32_t version_3_23_2 = 0x031702;

bool is_integer_kind(VARTYPE vt) noexcept
{
    switch (vt) {
    case VT_I2: case VT_I4: case VT_BOOL: case VT_I1: case VT_UI1: case VT_UI2: case VT_UI4: case VT_I8:
    case VT_UI8: case VT_INT: case VT_UINT:
        return true;
    default:
        return false;
    }
}

// The character set of a text column: the column's field mutator may name one, else the engine's.
std::wstring column_charset(udb_properties* table_mutator, const std::wstring& column_name)
{
    if (table_mutator) {
        if (udb_properties* fm = table_mutator->get_mutator_by_new_name(column_name)) {
            auto& props = fm->get_properties();
            auto it = props.find(L"character_set");
            if (it != props.end() && !it->second.empty()) return it->second;
        }
    }
    return sql_engine::instance()->get_effective_charset();
}

}  // namespace

// --- columns -----------------------------------------------------------------------------------

sql_schema_initializer::sql_schema_initializer(const std::wstring& table_name_, const udb_schema& source_columns_,
                                               const udb_indexes& source_indexes_, std::wstring& target)
    : table_name(table_name_), auto_increment_target(&target), source_indexes(&source_indexes_),
      validator(sql_engine::instance()->create_fn_validator(source_columns_)), source_columns(&source_columns_)
{
    tk_write_log(2, "sql_schema_initializer::ctor");
    for (std::size_t i = 0; i < source_columns_.size(); ++i) {
        if (!source_columns_.get(i)) continue;
        const t_ftd& src = source_columns_[i];
        const bool acceptable = validator->is_acceptable(src.name);
        std::wstring new_name = acceptable ? src.name : validator->get_safe_name(src.name);
        auto copy = std::make_shared<t_ftd>(src);
        copy->name = new_name;
        columns.push_back(std::move(copy));
        if (!acceptable) {
            tk_write_wlog(2, L"Store generated column name '%s'", new_name.c_str());
            validator->add_existing_name(new_name);
            validator->add_mapped_pair(src.name, new_name);
        }
        // A later column of the same name (ignoring case) gets a generated one.
        validator->restricted_names.push_back(new_name);
    }
}

sql_schema_initializer::~sql_schema_initializer() = default;

const t_names_map& sql_schema_initializer::get_names_map() const
{
    return validator->names_map;
}

void sql_schema_initializer::get_init_chunks(std::vector<std::wstring>& chunks, udb_properties* table_mutator)
{
    tk_write_log(2, "sql_schema_initializer::get_init_chunks(n_columns=%d)", static_cast<int>(columns.size()));
    sql_engine* engine = sql_engine::instance();
    const bool old = engine->is_old_version();
    auto_increment_target->clear();
    for (std::size_t i = 0; i < columns.size(); ++i) {
        const t_ftd& col = columns[i];
        const std::wstring& source_name = (*source_columns)[i].name;
        std::wstring def;
        if (old) def = col.name;
        else def = sql_quote_wname(col.name);
        def += L' ';

        std::wstring type;
        if (udb_custom_conversion::is_acceptable1(col)) type = udb_custom_conversion::handle1(col);
        else if (!col.nativetype.empty()) type = col.nativetype;
        else type = get_sql_native_type2(col);
        def += type;

        if (!old) {
            const bool geometry = col.dw_reserved == udb_subtype::geometry || col.dw_reserved == udb_subtype::geography;
            const bool text_column = (col.nativetype.empty() && col.vartype == VT_BSTR && !geometry) ||
                                     col.nativetype.find(L"CHAR") != std::wstring::npos ||
                                     col.nativetype.find(L"TEXT") != std::wstring::npos;
            if (text_column) {
                std::wstring cs = column_charset(table_mutator, col.name);
                if (!sql_is_plain_word(cs)) throw tk_exception(L"Invalid character set name '" + cs + L"'", 0);
                def += L" CHARACTER SET " + cs;
            }
        }

        bool not_null = col.b_not_null || col.auto_increment;
        if (!not_null && source_indexes->is_idx_field(source_name, true)) {
            tk_write_log(1, "index field");
            not_null = true;
        }
        if (!not_null && engine->get_server_version() < version_3_23_2 && source_indexes->is_idx_field(source_name, false))
            not_null = true;
        if (not_null) def += L" NOT NULL";

        if (col.auto_increment) {
            tk_write_log(2, "WARNING: auto_increment columns cannot have default value!");
        } else if (col.vartype != VT_BLOB && col.vartype != VT_BLOB_OBJECT &&
                   !(col.vartype == VT_BSTR && (col.size == 0 || col.size > 21845))) {
            std::wstring literal = make_mysql_def_val(col);
            if (!literal.empty()) def += L" DEFAULT " + literal;
        }

        if (col.auto_increment && is_integer_kind(col.vartype)) {
            if (!auto_increment_target->empty()) throw tk_mail_assertion("sql_init", 140);
            def += L" AUTO_INCREMENT";
            *auto_increment_target = col.name;
        }

        if (!col.comment.empty()) {
            def += L" COMMENT ";
            def += sql_quote_wliteral(engine->is_connected() ? engine->connection() : nullptr, col.comment);
        }
        tk_write_wlog(2, L"sql_query=%s", def.c_str());
        chunks.push_back(std::move(def));
    }
}

// --- indexes -----------------------------------------------------------------------------------

sql_indexes_initializer::sql_indexes_initializer(const udb_schema& columns_, const udb_indexes& source_indexes,
                                                 const std::wstring& auto_increment_column_,
                                                 const t_names_map& names_map_)
    : auto_increment_column(auto_increment_column_), columns(&columns_), names_map(&names_map_)
{
    tk_write_log(2, "sql_indexes_initializer::ctor");
    auto validator = sql_engine::instance()->create_in_validator(source_indexes.list());
    for (const udb_index& src : source_indexes) {
        tk_write_wlog(2, L"Processing '%s'", src.name.c_str());
        std::wstring new_name = src.name;
        bool acceptable = true;
        if (!src.name.empty()) {
            acceptable = validator->is_acceptable(src.name);
            if (!acceptable) new_name = validator->get_safe_name(src.name);
        }
        tk_write_wlog(2, L"new_name=%s", new_name.c_str());
        std::vector<std::wstring> fields;
        fields.reserve(src.fields.size());
        for (const auto& f : src.fields) fields.push_back(names_map->get_mapped_name(f));
        indexes.push_back(udb_index(new_name, src.unique, src.primary, std::move(fields)));
        if (!acceptable) {
            tk_write_wlog(2, L"Store generated index name '%s'", new_name.c_str());
            validator->add_existing_name(new_name);
        }
        validator->restricted_names.push_back(new_name);
    }
    tk_write_log(2, "sql_indexes_initializer::ctor - END");
}

sql_indexes_initializer::~sql_indexes_initializer() = default;

void sql_indexes_initializer::get_init_chunks(std::vector<std::wstring>& chunks)
{
    tk_write_log(2, "sql_indexes_initializer::get_init_chunks(n_indexes=%d)", static_cast<int>(indexes.size()));
    sql_engine* engine = sql_engine::instance();
    const bool old = engine->is_old_version();
    const std::uint32_t max_key_size = old ? 256 : 1536;
    const std::size_t max_counted = old ? 15 : 63;
    bool auto_needs_index = true;
    std::size_t counted = 0;
    for (const udb_index& index : indexes) {
        if (counted >= max_counted) break;
        tk_write_wlog(2, L"Process index '%s'", index.name.c_str());
        if (index.fields.empty()) {
            tk_write_wlog(3, L"Skip index '%s' as it is built on empty fields list", index.name.c_str());
            continue;
        }
        if (index.fields.size() > max_index_columns) {
            tk_write_wlog(2, L"Skip index '%s': more than %d columns", index.name.c_str(),
                          static_cast<int>(max_index_columns));
            continue;
        }
        ++counted;
        std::wstring clause;
        if (index.primary) clause = L"PRIMARY KEY";
        else clause = (index.unique ? L"UNIQUE " : L"INDEX ") + engine->get_safe_name(index.name);
        clause += L" (";
        bool kept = true;
        std::uint64_t key_size = 0;
        for (std::size_t k = 0; k < index.fields.size(); ++k) {
            const std::wstring& field = index.fields[k];
            if (k) clause += L", ";
            if (auto_needs_index && !auto_increment_column.empty() && tk_equal_no_case(field, auto_increment_column)) {
                tk_write_log(1, "Got index for auto_increment field");
                auto_needs_index = false;
            }
            clause += engine->get_safe_name(field);
            if (!columns->find_field(field)) {
                tk_write_wlog(2, L"Index column '%s' is not found", field.c_str());
                kept = false;
                break;
            }
            const VARTYPE vt = columns->get_field_type(field);
            const std::uint32_t size = columns->get_field_size(field);
            if (vt == VT_BLOB || vt == VT_BLOB_OBJECT || vt == VT_BYTE_ARRAY ||
                (vt == VT_BSTR && (size == 0 || size > 768))) {
                tk_write_wlog(3, L"Index '%s' built on LOB column(s) is not allowed", index.name.c_str());
                kept = false;
                break;
            }
            key_size += size;
            if (key_size > max_key_size) {
                tk_write_wlog(3, L"Index '%s' is too big, skip it", index.name.c_str());
                kept = false;
                break;
            }
        }
        if (kept) clause += L")";
        tk_write_wlog(2, L"sql_query=%s", clause.c_str());
        if (kept) chunks.push_back(std::move(clause));
    }
    if (!auto_increment_column.empty() && auto_needs_index) {
        tk_write_log(2, "Creating index for auto-field");
        auto validator = engine->create_in_validator(indexes.list());
        std::wstring name = validator->is_acceptable(auto_increment_column) ? auto_increment_column
                                                                            : validator->get_safe_name(auto_increment_column);
        chunks.push_back(L"INDEX " + engine->get_safe_name(name) + L" (" + engine->get_safe_name(auto_increment_column) + L")");
    }
}
