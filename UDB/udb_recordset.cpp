#include "UDB/udb_recordset.h"

#include "TK/tk_exception.h"
#include "TK/tk_log.h"
#include "UDB/udb_database.h"
#include "UDB/udb_record_key.h"

udb_recordset::udb_recordset(udb_database* database_, std::wstring name_, std::wstring sql_text_,
                             int schema_mode)
    : sql_text(std::move(sql_text_)), name(std::move(name_)), schema(schema_mode), database(database_)
{
}

udb_recordset::udb_recordset(udb_database* database_, std::wstring name_)
    : udb_recordset(database_, std::move(name_), std::wstring(), 0)
{
}

udb_recordset::udb_recordset(udb_database* database_, std::wstring name_, int schema_mode)
    : udb_recordset(database_, std::move(name_), std::wstring(), schema_mode)
{
}

udb_recordset::udb_recordset(std::wstring name_) : name(std::move(name_))
{
    tk_write_log(2, "udb_recordset::ctor(default)");
}

udb_recordset::~udb_recordset()
{
    tk_write_log(1, "udb_recordset::dtor");
}

void udb_recordset::update2(udb_record&, const std::wstring&)
{
    tk_write_log(1, "udb_recordset::update2");
}

void udb_recordset::update1(udb_record&)
{
    tk_write_log(1, "udb_recordset::update1");
}

udb_record* udb_recordset::get_item()
{
    return nullptr;
}

bool udb_recordset::is_eof()
{
    return true;
}

void udb_recordset::move_to(std::int32_t position)
{
    tk_write_log(1, "udb_recordset::move_to(%d)", int(position));
}

void udb_recordset::next() {}
void udb_recordset::prev() {}
void udb_recordset::reset() {}
void udb_recordset::delete_key(const std::wstring&) {}
void udb_recordset::delete_key(udb_record&) {}

void udb_recordset::add_index(const udb_index& index)
{
    tk_write_wlog(2, L"udb_recordset::add_index(%s, %d)", index.name.c_str(), int(key_pos));
    if (!indexes.is_acceptable_name(index.name)) {
        tk_write_wlog(2, L"Index '%s' cannot be processed", index.name.c_str());
        return;
    }
    if (index.primary || (index.unique && key_pos == -1)) {
        tk_write_log(2, "Store primary/unique key");
        key_pos = std::int32_t(indexes.size());
    }
    indexes.push_back(index);
}

std::unique_ptr<udb_record> udb_recordset::get_key(const udb_record& record) const
{
    tk_write_log(1, "udb_recordset::get_key(that.size=%d)", int(record.size()));
    if (key_pos < 0 || std::size_t(key_pos) >= indexes.size())
        throw tk_exception("There's no primary/unique key", 1);
    const udb_index& key = indexes[std::size_t(key_pos)];
    tk_write_log(1, "u_k_flds.size=%d", int(key.fields.size()));
    auto result = std::make_unique<udb_record>();
    result->reserve(key.fields.size());
    for (const auto& field_name : key.fields) {
        const udb_field* f = record.find(field_name);
        if (!f) {
            tk_write_wlog(3, L"Key field '%s' is not found in record", field_name.c_str());
            return nullptr;
        }
        result->push_back(std::make_unique<udb_field>(*f));
    }
    tk_write_log(1, "Just before exit: result.size=%d", int(result->size()));
    return result;
}

std::wstring udb_recordset::get_filter_subquery(const std::wstring& key)
{
    tk_write_wlog(1, L"udb_recordset::get_filter_subquery(%s)", key.c_str());
    // The terms are spelled by the database the table belongs to: this layer knows no dialect.
    if (!database) throw tk_mail_assertion("udb_rs", 124);
    const udb_database& db = *database;
    return udb_key_condition(schema, key, [&db](const t_ftd& column, const std::wstring& value) {
        return db.key_condition_term(column, value);
    });
}
