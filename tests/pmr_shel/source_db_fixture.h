#pragma once
// The wizard's process objects with the conversion object connected to both
// test servers: a fresh MySQL source database and a destination database name
// on the PostgreSQL server (both dropped at the end). The type-map files are
// read from the program's build folder.
#include <pqxx/pqxx>

#include <string>
#include <vector>

#include "common/types_map_dlg.h"
#include "driver/driver_test_support.h"
#include "wizard_test_support.h"

class source_db_fixture : public wizard_test::wizard_fixture {
protected:
    void SetUp() override
    {
        wizard_fixture::SetUp();
        type_map_files& files = type_map_files::instance();
        files.folders = {program_folder().toStdString()};
        files.types_map.clear();
        files.type_properties.clear();

        pelmora_convertor& cvt = convertor();
        connect_test_servers(cvt);
        source_name = test_env::unique_name("qwiz_src");
        dest_name = test_env::unique_name("qwiz_dst");
        m_admin = create_test_source(source_name);
        cvt.set_source(tk_utf8_to_unicode(source_name));
        cvt.set_destination(tk_utf8_to_unicode(dest_name));
        cvt.selected_tables.clear();
        cvt.query_list.clear();
        cvt.available_queries.clear();
        cvt.selected_views.clear();
        cvt.clear();
    }

    void TearDown() override
    {
        wizard_fixture::TearDown();
        drop_test_databases(m_admin, source_name, dest_name);
    }

    // Source statements (several separated by ';').
    void source(const std::string& sql) { mysql_exec(m_admin, sql); }

    // The program's folder in the build tree: from the environment, else
    // beside the test program's folder.
    static QString program_folder()
    {
        if (const char* dir = std::getenv("PELMORA_PROGRAM_DIR"); dir && *dir)
            return QString::fromLocal8Bit(dir);
        return QCoreApplication::applicationDirPath() + QStringLiteral("/../pmr_shel");
    }

    // The number of rows of a source table.
    long long rows_in_source(const std::string& table)
    {
        const std::string sql = "SELECT COUNT(*) FROM `" + table + "`";
        if (mysql_real_query(m_admin, sql.data(), sql.size()) != 0)
            throw std::runtime_error(mysql_error(m_admin));
        MYSQL_RES* r = mysql_store_result(m_admin);
        MYSQL_ROW row = r ? mysql_fetch_row(r) : nullptr;
        const long long n = row && row[0] ? std::stoll(row[0]) : -1;
        if (r)
            mysql_free_result(r);
        return n;
    }

    // Rows of a destination query, each row's fields joined by '|'.
    std::vector<std::string> rows(const std::string& sql) { return destination_rows(dest_name, sql); }

    // Runs the conversion on the test's thread into a new destination database.
    void run_conversion()
    {
        convertor().set_mode(udb_mode_overwrite_db);
        convertor()();
        ASSERT_EQ(convertor().outcome(), conversion_outcome::completed);
    }

    std::string source_name;
    std::string dest_name;

private:
    MYSQL* m_admin = nullptr;
};
