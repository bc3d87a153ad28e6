#pragma once
// The engine of one database product: creates, opens, deletes and tests for
// databases and takes the database properties that shape the tables it
// creates. The base supplies defaults for an engine whose databases are single
// files named by the database name.

#include <cstdint>
#include <memory>
#include <string>

#include "UDB/udb_database.h"
#include "UDB/udb_properties.h"

class udb_engine {
public:
    udb_engine() = default;
    udb_engine(const udb_engine&) = delete;
    udb_engine& operator=(const udb_engine&) = delete;
    virtual ~udb_engine();

    // The new database, opened; owned by the caller.
    virtual std::unique_ptr<udb_database> create_db(const std::wstring& name) = 0;
    // The opened database, owned by the caller. Mode bits are the side's.
    virtual std::unique_ptr<udb_database> open_db(const std::wstring& name, std::int32_t mode,
                                                  const std::wstring& schema) = 0;
    // Deletes the file of that name; tk_exception_ex (level 1, the system's
    // text) when it cannot.
    virtual void db_delete(const std::wstring& name);
    // Whether a file (not a folder) of that name exists.
    virtual bool is_db_exist(const std::wstring& name);
    // Keeps the pointer (not owned: the properties must outlive their use here).
    virtual void set_properties(udb_properties* properties);

    udb_properties* get_properties() const noexcept { return properties; }

protected:
    udb_properties* properties = nullptr;
};
