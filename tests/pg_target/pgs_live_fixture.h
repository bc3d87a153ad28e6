#pragma once
// A PostgreSQL engine connected to the test server and a throwaway database
// for one test suite; each test works in tables of its own.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include <pqxx/pqxx>

#include "TK/tk_strings.h"
#include "UDB/udb_record.h"
#include "UDB/udb_schema.h"
#include "pg_target/pgs_connection.h"
#include "pg_target/pgs_database.h"
#include "pg_target/pgs_engine.h"
#include "pg_target/pgs_recordset.h"
#include "support/test_env.h"

class pgs_live_suite : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_engine = std::make_unique<pgs_engine>();
        auto f = test_env::pg();
        s_engine->connect(f.host, f.user, f.password, "", f.port);
        s_db_name = test_env::unique_name("pgs_live");
        s_db = s_engine->create_db(tk_utf8_to_unicode(s_db_name));
    }
    static void TearDownTestSuite()
    {
        s_db.reset();
        try {
            auto f = test_env::pg();
            s_engine->connect(f.host, f.user, f.password, "", f.port);
            s_engine->delete_db(tk_utf8_to_unicode(s_db_name));
        } catch (const std::exception& e) {
            ADD_FAILURE() << "cannot drop the test database: " << e.what();
        }
        s_engine.reset();
    }
    void SetUp() override
    {
        engine().fast_insert = true;
        engine().is_case_sens = false;
        engine().unlogged = false;
    }

    static pgs_engine& engine() { return *s_engine; }
    static pgs_database& db() { return *s_db; }

    // Runs SQL outside the objects under test and gives the first column of
    // every row as text ("<null>" for NULL).
    static std::vector<std::string> sql(const std::string& text)
    {
        pgs_connection& c = *s_engine->connection();
        c.make_room();
        pqxx::work tx(c.get());
        pqxx::result r = tx.exec(text);
        tx.commit();
        std::vector<std::string> out;
        for (const auto& row : r) out.push_back(row[0].is_null() ? "<null>" : row[0].c_str());
        return out;
    }
    static std::string sql1(const std::string& text)
    {
        auto rows = sql(text);
        return rows.empty() ? std::string("<no row>") : rows.front();
    }

    inline static std::unique_ptr<pgs_engine> s_engine;
    inline static std::unique_ptr<pgs_database> s_db;
    inline static std::string s_db_name;
};

struct test_column {
    const wchar_t* name;
    VARTYPE vt;
    std::uint32_t size = 0;
    std::int32_t precision = 0;
    std::int32_t scale = 0;
    std::int32_t subtype = 0;
    bool auto_increment = false;
};

inline udb_schema make_schema(const std::vector<test_column>& cols)
{
    udb_schema s(1);
    for (const auto& c : cols) {
        t_ftd d(c.size, c.name, c.vt, false, c.auto_increment, ole_variant(), c.subtype);
        d.precision = c.precision;
        d.scale = c.scale;
        s.add_column(std::move(d));
    }
    return s;
}

// A record of (name, value) fields.
inline udb_record make_record(const std::vector<std::pair<std::wstring, ole_variant>>& fields)
{
    udb_record r;
    for (const auto& [n, v] : fields) r.emplace_back(n, 0u, v);
    return r;
}

// A table's end as the run does it: the rows stored, the auto-increment sequence set past
// them, then the recordset let go (its destructor sends nothing).
inline void finish_table(std::unique_ptr<udb_recordset>& rs)
{
    if (auto* live = dynamic_cast<pgs_recordset*>(rs.get())) {
        live->flush_rows();
        live->set_sequence_after_rows();
    }
    rs.reset();
}
