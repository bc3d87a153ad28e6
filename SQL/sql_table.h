#pragma once
// One MySQL table opened as a recordset: its rows stream as sql_recordset reads them; its
// constructor also refines the column descriptors from SHOW COLUMNS (declared VARCHAR/CHAR
// length, FLOAT(M,D) as decimal, TEXT types, defaults), reads the indexes from SHOW INDEX
// (which also decides the key index) and hands SHOW CREATE TABLE to the foreign-key parser.
// Writing rows into MySQL is not supported yet: those operations throw.
#include <cstdint>
#include <string>
#include <vector>

#include "SQL/sql_recordset.h"

class sql_table : public sql_recordset {
public:
    // Table modes whose bits all lie inside 0x60 read no indexes and no foreign keys.
    sql_table(sql_database* database, const std::wstring& name, std::vector<udb_relationship>& relationships,
              std::int32_t mode);
    ~sql_table() override;

    void append_record(udb_record& record) override;
    void update2(udb_record& record, const std::wstring& key) override;
    void update1(udb_record& record) override;
    void delete_key(const std::wstring& key) override;
    void delete_key(udb_record& record) override;

private:
    void initialize(std::int32_t mode);
    void read_columns();
    void read_indexes();
    void read_foreign_keys();

    std::uint32_t cached_rec_size = 0;
    std::string pending_insert;
};
