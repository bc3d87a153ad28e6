#pragma once
// Settings of a MySQL dump, kept beside the engine by the conversion's MySQL half and stored
// with the profile section "MySQL settings"; nothing in a conversion reads them otherwise.
#include <cstdint>
#include <string>

struct dump_options {
    dump_options();

    std::int32_t line_break = 0;    // "dump line break"
    bool new_version = true;        // "dump new version"
    bool add_lock_to_insert = true; // "dump add lock to insert"
    bool insert_comments = true;    // "dump insert comments"
    bool create_database = false;   // "dump create database"
    bool create_table = true;       // "dump create table"
    std::string text1;
    std::string text2;
};
