#include "driver/pgs_converter_impl.h"

#include "TK/tk_log.h"
#include "TK/tk_strings.h"
#include "pg_target/pgs_database.h"

pgs_converter_impl::pgs_converter_impl() : m_engine(std::make_unique<pgs_engine>())
{
    tk_write_log(2, "pgs_converter_impl::ctor");
}

pgs_converter_impl::~pgs_converter_impl() = default;

void pgs_converter_impl::connect_pgs_server(const std::string& database_name)
{
    tk_write_log(2, "pgs_converter_impl::connect_pgs_server(%s)", database_name.c_str());
    m_engine->connect(pgs_host, pgs_user, pgs_password, database_name, pgs_port);
}

std::vector<std::wstring> pgs_converter_impl::get_pgs_schemas(const std::wstring& database_name)
{
    tk_write_wlog(2, L"pgs_converter_impl::get_pgs_schemas(%s)", database_name.c_str());
    std::vector<std::wstring> schemas;
    try {
        std::unique_ptr<pgs_database> db = m_engine->open_db(database_name, 1, std::wstring());
        if (db)
            db->get_schema_info(schemas);
    } catch (const tk_exception& e) {
        tk_write_log(3, "Cannot extract list of schemas: %s", e.what());
    }
    return schemas;
}

bool pgs_converter_impl::is_schema_exist(const std::wstring& database_name, const std::wstring& schema)
{
    tk_write_wlog(2, L"pgs_converter_impl::is_schema_exist('%s','%s')", database_name.c_str(), schema.c_str());
    for (const std::wstring& name : get_pgs_schemas(database_name)) {
        tk_write_wlog(1, L"Compare '%s' with '%s'", schema.c_str(), name.c_str());
        if (tk_equal_no_case(schema, name)) {
            tk_write_log(1, "Schema exists");
            return true;
        }
    }
    tk_write_log(1, "Schema does not exist");
    return false;
}

void pgs_converter_impl::set_pgs_schema(const std::wstring& schema)
{
    tk_write_wlog(1, L"pgs_converter_impl::set_pgs_schema(%s)", schema.c_str());
    pgs_schema = schema;
}
