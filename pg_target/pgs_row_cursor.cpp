#include "pg_target/pgs_row_cursor.h"

#include "TK/tk_strings.h"
#include "UDB/udb_record.h"
#include "UDB/udb_schema.h"
#include "pg_target/pgs_connection.h"
#include "pg_target/pgs_exception.h"
#include "pg_target/pgs_quote.h"

std::string pgs_select_list(const udb_schema& columns, const std::vector<std::string>& data_types)
{
    std::string out;
    for (std::size_t i = 0; i < columns.size(); ++i) {
        const t_ftd& col = columns[i];
        if (i) out += ", ";
        std::string quoted;
        pgs_append_identifier(quoted, std::wstring_view(col.name));
        if (col.vartype == VT_DATE) {
            out += "to_char(" + quoted;
            if (col.dw_reserved & 0x10) out += " at time zone 'UTC'";
            out += ", 'YYYY-MM-DD HH24:MI:SS.US') as " + quoted;
        } else if (col.vartype == VT_BOOL && col.dw_reserved != 1) {
            out += "CASE " + quoted + " WHEN 't' THEN 1 WHEN 'f' THEN 0 ELSE NULL END as " + quoted;
        } else if (col.vartype == VT_R8) {
            out += quoted;
            if (i < data_types.size() && data_types[i] == "money") out += "::numeric";
        } else {
            out += quoted;
        }
    }
    return out;
}

struct pgs_row_cursor::state {
    std::unique_ptr<pqxx::work> tx;
    std::unique_ptr<pqxx::icursorstream> cursor;
    pqxx::result block;
    pqxx::result::size_type row = 0;
};

pgs_row_cursor::pgs_row_cursor() : m(std::make_unique<state>()) {}

pgs_row_cursor::~pgs_row_cursor() { close(); }

void pgs_row_cursor::close() noexcept
{
    m->cursor.reset();
    m->tx.reset();
    m->block = pqxx::result();
    m->row = 0;
}

bool pgs_row_cursor::is_open() const noexcept { return m->cursor != nullptr; }

bool pgs_row_cursor::at_end() const noexcept { return !m->cursor || m->row >= m->block.size(); }

void pgs_row_cursor::open(pgs_connection& connection, const std::string& sql)
{
    close();
    try {
        connection.make_room();
        m->tx = std::make_unique<pqxx::work>(connection.get());
        m->cursor = std::make_unique<pqxx::icursorstream>(*m->tx, sql, "mycursor", 100);
        m->cursor->get(m->block);
        m->row = 0;
    } catch (const pqxx::pqxx_exception& e) {
        throw pgs_exception::from_current();
    }
}

void pgs_row_cursor::next()
{
    if (at_end()) return;
    if (++m->row < m->block.size()) return;
    m->block = pqxx::result();
    m->cursor->get(m->block);
    m->row = 0;
}

void pgs_row_cursor::fill(udb_record& record, const udb_schema& columns) const
{
    const auto row = m->block[m->row];
    for (std::size_t i = 0; i < columns.size(); ++i) {
        const t_ftd& col = columns[i];
        udb_field& field = record[i];
        const pqxx::field f = row[pqxx::row::size_type(i)];
        if (f.is_null()) {
            field.set_value(ole_variant());
        } else if (col.vartype == VT_BSTR) {
            field.set_value(ole_variant::from_wstring(tk_utf8_to_unicode(f.c_str()), VT_BSTR));
        } else if (col.vartype == VT_BYTE_ARRAY || col.vartype == VT_BLOB) {
            const pqxx::binarystring bytes(f);
            field.set_value(ole_variant(bytes.data(), bytes.size()));
        } else {
            field.set_value(ole_variant::from_string(f.c_str(), col.vartype));
        }
    }
}
