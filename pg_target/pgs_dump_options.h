#pragma once
// Options of one PostgreSQL script file, held by the convertor's PostgreSQL half and
// copied into the script database when it is built.
#include <cstdint>
#include <string>

// What a script does with a table that the database it is loaded into already has (the run's
// mode for an existing destination). A table the database lacks is created with its rows in
// every case.
enum class pgs_existing_table : std::uint8_t {
    replace,      // dropped with whatever depends on it and created again (mode 0)
    overwrite,    // dropped and created again, unless something the script does not make again
                  // depends on it: then left as it is, rows included, with a warning (mode 1)
    keep,         // left as it is, rows, indexes and foreign keys included (mode 2)
    merge,        // its rows stay; a row whose key it does not hold yet is added (mode 3)
    synchronize,  // as merge, and a row whose key it holds takes the new values (mode 4)
};

struct pgs_dump_options {
    pgs_dump_options();  // the defaults below; traces "pgs_dump_options::ctor1"

    bool first_flag = true;        // kept for stored settings; read by nothing
    bool insert_comments = true;   // header, table and data comments
    bool create_database = false;  // with create_tables: DROP/CREATE DATABASE after the header
    bool create_tables = true;     // DROP TABLE, CREATE TABLE and indexes before the rows
    std::string creator;           // text of the header's "Created by " line
    std::string database_name;     // empty: the script file's name without folder and extension
    // Other than replace: no DROP DATABASE and no DROP TABLE ... CASCADE is written; what
    // happens to a table is decided while the script loads (see pgs_dmp_database).
    pgs_existing_table existing_tables = pgs_existing_table::replace;
};
