#pragma once
// Options of one PostgreSQL script file, held by the convertor's PostgreSQL half and
// copied into the script database when it is built.
#include <string>

struct pgs_dump_options {
    pgs_dump_options();  // the defaults below; traces "pgs_dump_options::ctor1"

    bool first_flag = true;        // kept for stored settings; read by nothing
    bool insert_comments = true;   // header, table and data comments
    bool create_database = false;  // with create_tables: DROP/CREATE DATABASE after the header
    bool create_tables = true;     // DROP TABLE, CREATE TABLE and indexes before the rows
    std::string creator;           // text of the header's "Created by " line
    std::string database_name;     // empty: the script file's name without folder and extension
};
