#pragma once
// A throwaway PostgreSQL database on the test server for one test: created with a name no
// other test uses, dropped when the object goes out of scope (whatever the test did).
#include <string>

#include <pqxx/pqxx>

#include "support/test_env.h"

namespace test_env {

class pg_scratch_db {
public:
    explicit pg_scratch_db(const std::string& prefix) : name_(unique_name(prefix))
    {
        pqxx::connection admin(pg_conninfo());
        pqxx::nontransaction tx(admin);
        tx.exec("CREATE DATABASE " + tx.quote_name(name_));
    }
    ~pg_scratch_db()
    {
        try {
            pqxx::connection admin(pg_conninfo());
            pqxx::nontransaction tx(admin);
            tx.exec("DROP DATABASE IF EXISTS " + tx.quote_name(name_));
        } catch (...) {
            // a database left behind only costs space on the throwaway server
        }
    }
    pg_scratch_db(const pg_scratch_db&) = delete;
    pg_scratch_db& operator=(const pg_scratch_db&) = delete;

    const std::string& name() const { return name_; }
    std::string conninfo() const { return pg_conninfo(name_); }

private:
    std::string name_;
};

}  // namespace test_env
