// A script file loaded with psql into an empty database must give what a live
// conversion of the same source gives: the same tables, columns, keys,
// indexes, rows (byte for byte) and sequence positions. The source holds every
// MySQL column type, extreme values, NULLs, empty texts, binary data and names
// that need quoting; both sides go into a schema other than "public".
#include <gtest/gtest.h>

#include <mysql.h>

#include <charconv>
#include <cstdlib>
#include <memory>
#include <pqxx/pqxx>
#include <string>
#include <vector>

#include "console_test_support.h"

namespace {

using namespace console_test;
using strings = std::vector<std::string>;

const std::string schema = "sales";

// One column of every MySQL type; a unique, a composite and a plain index.
const char* all_types_table = R"sql(
CREATE TABLE all_types (
  id INT AUTO_INCREMENT PRIMARY KEY,
  c_tinyint TINYINT, c_tinyint_u TINYINT UNSIGNED,
  c_smallint SMALLINT, c_smallint_u SMALLINT UNSIGNED,
  c_mediumint MEDIUMINT, c_mediumint_u MEDIUMINT UNSIGNED,
  c_int INT DEFAULT 42, c_int_u INT UNSIGNED,
  c_bigint BIGINT, c_bigint_u BIGINT UNSIGNED,
  c_bit1 BIT(1), c_bit5 BIT(5),
  c_decimal DECIMAL(65,30), c_money DECIMAL(12,2) NOT NULL DEFAULT 0.00,
  c_float FLOAT, c_double DOUBLE,
  c_date DATE, c_datetime DATETIME(6), c_timestamp TIMESTAMP NULL DEFAULT NULL, c_time TIME, c_year YEAR,
  c_char CHAR(10), c_varchar VARCHAR(300) NOT NULL DEFAULT 'it''s',
  c_tinytext TINYTEXT, c_text TEXT, c_mediumtext MEDIUMTEXT, c_longtext LONGTEXT,
  c_binary BINARY(4), c_varbinary VARBINARY(20),
  c_tinyblob TINYBLOB, c_blob BLOB, c_mediumblob MEDIUMBLOB, c_longblob LONGBLOB,
  c_enum ENUM('a','b c','d''e'), c_set SET('x','y','z'), c_json JSON,
  c_created TIMESTAMP NOT NULL DEFAULT CURRENT_TIMESTAMP,
  UNIQUE KEY uq_bigint (c_bigint),
  KEY ix_date_time (c_date, c_time),
  KEY ix_varchar (c_varchar));
INSERT INTO all_types VALUES
 (1, -128, 0, -32768, 0, -8388608, 0, -2147483648, 0, -9223372036854775808, 0, b'0', b'00000',
  -99999999999999999999999999999999999.999999999999999999999999999999, -9999999999.99,
  -3.40282e38, -1.7976931348623157e308,
  '1000-01-01', '1000-01-01 00:00:00.000000', '1970-01-01 00:00:01', '00:00:00', 1901,
  '', '', '', '', '', '',
  X'00', X'', X'', X'', X'', X'',
  'a', '', '[]', '2000-01-01 00:00:00'),
 (2, 127, 255, 32767, 65535, 8388607, 16777215, 2147483647, 4294967295, 9223372036854775807,
  18446744073709551615, b'1', b'11111',
  99999999999999999999999999999999999.999999999999999999999999999999, 9999999999.99,
  3.40282e38, 1.7976931348623157e308,
  '9999-12-31', '9999-12-31 23:59:59.999999', '2038-01-19 03:14:07', '23:59:59', 2155,
  'zzzzzzzzzz', 'max', 'max', 'max', 'max', 'max',
  X'FFFFFFFF', X'FF', X'FF', X'FF', X'FF', X'FF',
  'd''e', 'x,y,z', '{"a": [1, 2.5, null, true]}', '2038-01-19 03:14:07'),
 (3, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, DEFAULT,
  NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, DEFAULT, NULL, NULL, NULL, NULL,
  NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, '2001-02-03 04:05:06'),
 (7, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, b'1', b'10101',
  0.000000000000000000000000000001, 0.01, 1.5, 0.1,
  '2024-02-29', '2024-02-29 12:34:56.000001', '2024-02-29 12:34:56', '12:34:56', 2024,
  'a''b', 'tab\there\r\nCRLF\\back ''q'' \\. end', '\n\\.\n', '😀𝄞 日本 Zoë \\N', '\r', 'it''s zero',
  X'00000A0D', X'5C2E0A0D0900FF27', X'00', X'', X'0D0A', X'5C',
  'b c', '', '{"k": "v\\"q", "e": "😀", "t": "\\t"}', '2024-02-29 12:34:56');
)sql";

// Names that need quoting: reserved words, blanks, a dot, a double quote,
// mixed case, letters beyond ASCII, PostgreSQL system column names and names
// longer than PostgreSQL keeps; a composite primary key; a foreign key; an
// auto-increment key that starts high; tables empty and without any key.
const char* quoted_names_tables = R"sql(
CREATE TABLE `user` (
  `order` INT NOT NULL,
  `Group Name` VARCHAR(20) NOT NULL,
  `dot.col` VARCHAR(10),
  `quo"te` INT,
  `select` TEXT,
  PRIMARY KEY (`order`, `Group Name`),
  UNIQUE KEY `uq.dot` (`dot.col`),
  KEY `Plain "Index"` (`quo"te`, `order`));
INSERT INTO `user` VALUES (1, 'A', 'a.b', 1, 'from'), (1, 'b', NULL, NULL, NULL), (2, '', '', 0, '');
CREATE TABLE `Order.Items "v2"` (
  `Item Id` BIGINT UNSIGNED AUTO_INCREMENT PRIMARY KEY,
  `Label` VARCHAR(40) NOT NULL DEFAULT '',
  `user.order` INT,
  KEY `Label Index` (`Label`)) AUTO_INCREMENT=1000;
INSERT INTO `Order.Items "v2"` (`Label`, `user.order`) VALUES ('first', 1), ('', NULL);
INSERT INTO `Order.Items "v2"` VALUES (5000, 'O''Brien "x"', 2);
CREATE TABLE `child "fk"` (
  id INT PRIMARY KEY,
  `order` INT, `Group Name` VARCHAR(20),
  CONSTRAINT `fk.user` FOREIGN KEY (`order`, `Group Name`) REFERENCES `user` (`order`, `Group Name`)
    ON DELETE CASCADE);
INSERT INTO `child "fk"` VALUES (1, 1, 'A'), (2, NULL, NULL);
CREATE TABLE empty_auto (id BIGINT AUTO_INCREMENT PRIMARY KEY, v TEXT);
CREATE TABLE no_keys (a INT, b TEXT);
INSERT INTO no_keys VALUES (1, 'x'), (1, 'x'), (NULL, NULL), (NULL, '');
CREATE TABLE serial_beside_key (code VARCHAR(5) NOT NULL, n INT AUTO_INCREMENT, UNIQUE KEY (code), KEY (n));
INSERT INTO serial_beside_key (code) VALUES ('a'), ('b');
CREATE TABLE `Größe 日本語` (
  `Schlüssel` INT PRIMARY KEY, `値` VARCHAR(10), `xmin` INT, `ctid` TEXT, `a_column_name_of_sixty_four_characters_which_postgresql_cuts_064` INT,
  UNIQUE KEY `索引` (`値`), KEY `an_index_name_of_sixty_four_characters_which_postgresql_cuts_064` (`xmin`, `a_column_name_of_sixty_four_characters_which_postgresql_cuts_064`));
INSERT INTO `Größe 日本語` VALUES (1, 'ä', 1, 'c', 64), (2, NULL, NULL, NULL, NULL);
CREATE TABLE doubles (id INT PRIMARY KEY, d DOUBLE, f FLOAT);
INSERT INTO doubles VALUES (1, 0.30000000000000004, 0.1), (2, 5e-324, 1.17549e-38), (3, 2.2250738585072014e-308, 16777217),
  (4, -0.0, -0.0), (5, 123456789012345680000, 3.14159), (6, 1e22, 1e-10);
CREATE TABLE many (id INT PRIMARY KEY, label VARCHAR(40), amount DECIMAL(10,3));
INSERT INTO many SELECT seq, CONCAT('row ', seq, ' ä\t\\'), seq / 7 FROM seq_1_to_2500;
CREATE TABLE shapes (id INT PRIMARY KEY, g GEOMETRY, p POINT NOT NULL, area POLYGON);
INSERT INTO shapes VALUES
  (1, ST_GeomFromText('POINT(1.5 -2)'), ST_GeomFromText('POINT(0 0)'),
   ST_GeomFromText('POLYGON((0 0,1 0,1 1,0 0))')),
  (2, NULL, ST_GeomFromText('POINT(3 4)'), NULL);
)sql";

// Every row of every query as text, NULL as "<null>", fields joined by '|'.
strings mysql_rows(const std::string& database, const std::string& sql)
{
    const auto f = test_env::mysql();
    MYSQL* conn = mysql_init(nullptr);
    std::unique_ptr<MYSQL, decltype(&mysql_close)> owner(conn, mysql_close);
    if (!mysql_real_connect(conn, f.host.c_str(), f.user.c_str(), f.password.c_str(), database.c_str(),
                            static_cast<unsigned>(f.port), nullptr, 0))
        throw std::runtime_error(std::string("MySQL: ") + mysql_error(conn));
    mysql_set_character_set(conn, "utf8mb4");
    if (mysql_real_query(conn, sql.data(), sql.size()) != 0)
        throw std::runtime_error("MySQL: " + std::string(mysql_error(conn)));
    MYSQL_RES* res = mysql_store_result(conn);
    std::unique_ptr<MYSQL_RES, decltype(&mysql_free_result)> result(res, mysql_free_result);
    strings out;
    const unsigned n = mysql_num_fields(res);
    while (MYSQL_ROW row = mysql_fetch_row(res)) {
        const unsigned long* lengths = mysql_fetch_lengths(res);
        std::string line;
        for (unsigned i = 0; i < n; ++i) {
            if (i)
                line += '|';
            line += row[i] ? std::string(row[i], lengths[i]) : std::string("<null>");
        }
        out.push_back(line);
    }
    return out;
}

// A short, visible form of a value for a difference report.
std::string shown(const pqxx::field& f)
{
    if (f.is_null())
        return "<null>";
    const std::string v = f.c_str();
    std::string out;
    for (char c : v.substr(0, 120)) {
        if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else if (c == '\t')
            out += "\\t";
        else
            out += c;
    }
    if (v.size() > 120)
        out += "... (" + std::to_string(v.size()) + " bytes)";
    return out;
}

// The facts of one converted database that must agree.
struct database_facts {
    strings tables;
    strings columns;
    strings indexes;
    strings constraints;
    strings sequences;  // each serial column with the next value its sequence gives
};

database_facts facts_of(const pg_destination& db)
{
    const std::string in_schema = "'" + schema + "'";
    database_facts f;
    f.tables = db.rows("SELECT table_name, table_type FROM information_schema.tables WHERE table_schema = " +
                       in_schema + " ORDER BY 1");
    f.columns = db.rows(
        "SELECT table_name, ordinal_position, column_name, data_type, udt_name, character_maximum_length, "
        "numeric_precision, numeric_scale, datetime_precision, is_nullable, column_default "
        "FROM information_schema.columns WHERE table_schema = " + in_schema + " ORDER BY 1, 2");
    f.indexes = db.rows("SELECT tablename, indexname, indexdef FROM pg_indexes WHERE schemaname = " + in_schema +
                        " ORDER BY 1, 2");
    f.constraints = db.rows(
        "SELECT conrelid::regclass::text, conname, contype, pg_get_constraintdef(oid) FROM pg_constraint "
        "WHERE connamespace = " + in_schema + "::regnamespace ORDER BY 1, 2");
    // Taking the next value changes the database: done last, on both sides alike.
    f.sequences = db.rows(
        "SELECT c.table_name, c.column_name, s, nextval(s) FROM information_schema.columns c, "
        "LATERAL pg_get_serial_sequence(quote_ident(c.table_schema) || '.' || quote_ident(c.table_name), "
        "c.column_name) s WHERE c.table_schema = " + in_schema + " AND s IS NOT NULL ORDER BY 1, 2");
    return f;
}

// Row-by-row, field-by-field differences of one table, in key order.
strings row_differences(const pg_destination& live, const pg_destination& script, const std::string& table)
{
    pqxx::connection lc(test_env::pg_conninfo(live.name()));
    pqxx::connection sc(test_env::pg_conninfo(script.name()));
    pqxx::nontransaction lt(lc);
    pqxx::nontransaction st(sc);
    const std::string qualified = lt.quote_name(schema) + "." + lt.quote_name(table);
    const std::string key = lt.exec(
        "SELECT string_agg(quote_ident(a.attname), ', ' ORDER BY array_position(i.indkey::int2[], a.attnum)) "
        "FROM pg_index i JOIN pg_attribute a ON a.attrelid = i.indrelid AND a.attnum = ANY(i.indkey) "
        "WHERE i.indrelid = " + lt.quote(qualified) + "::regclass AND i.indisprimary")[0][0].c_str();
    const std::string sql = "SELECT * FROM " + qualified + " t ORDER BY " + (key.empty() ? "t::text" : key);
    const pqxx::result l = lt.exec(sql);
    const pqxx::result s = st.exec(sql);
    strings out;
    if (l.size() != s.size())
        out.push_back(table + ": live has " + std::to_string(l.size()) + " rows, script " +
                      std::to_string(s.size()));
    for (pqxx::result::size_type r = 0; r < l.size() && r < s.size(); ++r) {
        for (pqxx::row::size_type c = 0; c < l.columns(); ++c) {
            const bool same = l[r][c].is_null() == s[r][c].is_null() &&
                              (l[r][c].is_null() || std::string(l[r][c].c_str()) == s[r][c].c_str());
            if (!same)
                out.push_back(table + " row " + std::to_string(r + 1) + " (key " + shown(l[r][0]) + ") column " +
                              l.column_name(c) + ": live [" + shown(l[r][c]) + "] script [" + shown(s[r][c]) +
                              "]");
        }
    }
    return out;
}

struct run_case {
    const char* name;
    bool fast_insert;
    bool case_sens;
};
std::ostream& operator<<(std::ostream& os, const run_case& c) { return os << c.name; }

// Runs one live conversion and one script conversion of the same source with
// the same options, and loads the script into an empty database with psql.
class script_and_live_test : public ::testing::Test {
protected:
    void convert_both(const strings& options)
    {
        const strings common = strings{"--src=" + src.name(), "--schema=" + schema} + options;
        const run_result live = run_quindrel(connection_options() + common + strings{"--dest=" + live_db.name()});
        ASSERT_EQ(live.status, 0) << live.out << live.err;
        EXPECT_EQ(live.err, "");
        EXPECT_EQ(live.out.find("Error"), std::string::npos) << live.out;

        const std::string script = dir.file("out.sql");
        strings mysql_options = connection_options();
        mysql_options.resize(4);  // a script needs no PostgreSQL server
        const run_result dump = run_quindrel(mysql_options + common + strings{"--dest=" + script, "--dump"});
        ASSERT_EQ(dump.status, 0) << dump.out << dump.err;
        EXPECT_EQ(dump.err, "");
        EXPECT_EQ(dump.out.find("Error"), std::string::npos) << dump.out;
        load_script(script);
    }

    // The script into an empty database through psql, stopping at the first error.
    void load_script(const std::string& script)
    {
        script_db.create();
        run_psql(script);
    }

    void run_psql(const std::string& script)
    {
        const auto pg = test_env::pg();
        const char* bin = std::getenv("TEST_PG_BIN");
        const std::string psql = bin ? std::string(bin) + "/psql" : std::string("psql");
        setenv("PGPASSWORD", pg.password.c_str(), 1);
        const std::string output = dir.file("psql.out");
        const std::string command = psql + " -q -X -v ON_ERROR_STOP=1 -h " + pg.host + " -p " +
                                    std::to_string(pg.port) + " -U " + pg.user + " -d " + script_db.name() +
                                    " -f " + script + " >" + output + " 2>&1";
        const int rc = std::system(command.c_str());
        const std::string said = read_file(output);
        ASSERT_EQ(rc, 0) << said;
        // Notices of DROP ... IF EXISTS are expected; nothing worse.
        EXPECT_EQ(said.find("ERROR"), std::string::npos) << said;
        EXPECT_EQ(said.find("WARNING"), std::string::npos) << said;
    }

    // Every table above, with values too long or too odd for a literal: every
    // byte value, and long texts with every character that needs escaping.
    void load_full_source()
    {
        src.exec(all_types_table);
        src.exec(quoted_names_tables);
        std::string all_bytes;
        for (int i = 0; i < 256; ++i)
            all_bytes += static_cast<char>(i);
        src.exec_with_blob("UPDATE all_types SET c_blob = ? WHERE id = 7", all_bytes);
        std::string big(300'000, '\0');
        for (std::size_t i = 0; i < big.size(); ++i)
            big[i] = static_cast<char>((i * 7919 + i / 251) % 256);
        src.exec_with_blob("UPDATE all_types SET c_longblob = ? WHERE id = 2", big);
        src.exec("UPDATE all_types SET c_longtext = REPEAT('a\\tb\\\\c\\r\\nd''e😀\\n\\\\.\\n', 20000), "
                 "c_mediumtext = REPEAT('日本語 ', 5000) WHERE id = 2");
    }

    mysql_source src{"qssrc"};
    pg_destination live_db{"qslive"};
    pg_destination script_db{"qsscr"};
    scratch dir;
};

class script_matches_live_test : public script_and_live_test, public ::testing::WithParamInterface<run_case> {
protected:
    void SetUp() override { load_full_source(); }

    strings options() const
    {
        strings o;
        if (GetParam().fast_insert)
            o.push_back("--fast_insert");
        if (GetParam().case_sens)
            o.push_back("--case_sens");
        return o;
    }

    // The quoted PostgreSQL name of a source name as the run writes it.
    std::string name(const std::string& source_name) const
    {
        std::string n = source_name;
        if (!GetParam().case_sens)
            for (char& c : n)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        std::string q = "\"";
        for (char c : n)
            q += c == '"' ? std::string("\"\"") : std::string(1, c);
        return q + "\"";
    }
};

TEST_P(script_matches_live_test, psql_load_of_the_script_equals_the_live_conversion)
{
    convert_both(options());
    if (HasFatalFailure())
        return;

    // The source tables all arrived.
    ASSERT_EQ(live_db.value("SELECT count(*) FROM information_schema.tables WHERE table_schema = '" + schema + "'"),
              "11");

    const database_facts l = facts_of(live_db);
    const database_facts s = facts_of(script_db);
    // The comparison is not an empty one: every key and index, both serials.
    EXPECT_EQ(l.indexes.size(), 20u);
    EXPECT_EQ(l.sequences.size(), 4u);
    EXPECT_EQ(l.tables, s.tables);
    EXPECT_EQ(l.columns, s.columns);
    EXPECT_EQ(l.indexes, s.indexes);
    EXPECT_EQ(l.constraints, s.constraints);
    EXPECT_EQ(l.sequences, s.sequences);

    for (const std::string& line : l.tables) {
        const std::string table = line.substr(0, line.rfind('|'));
        EXPECT_EQ(row_differences(live_db, script_db, table), strings{}) << table;
    }

    // Both agree with the source where a lossy path would show: DECIMAL
    // digits, bytes of binary values, 4-byte characters, large texts.
    const strings source = mysql_rows(
        src.name(),
        "SELECT id, c_bigint_u, c_decimal, c_money, HEX(c_binary), HEX(c_varbinary), HEX(c_tinyblob), HEX(c_blob), "
        "HEX(c_mediumblob), MD5(c_longblob), LENGTH(c_longblob), c_char, c_varchar, c_tinytext, c_text, "
        "MD5(c_mediumtext), MD5(c_longtext), c_enum, c_set "
        "FROM all_types ORDER BY id");
    const std::string t = name(schema) + "." + name("all_types");
    const std::string pg_query =
        "SELECT id, c_bigint_u::text, c_decimal::text, c_money::text, upper(encode(c_binary, 'hex')), "
        "upper(encode(c_varbinary, 'hex')), upper(encode(c_tinyblob, 'hex')), upper(encode(c_blob, 'hex')), "
        "upper(encode(c_mediumblob, 'hex')), md5(c_longblob), length(c_longblob), c_char::text, c_varchar, "
        "c_tinytext, c_text, md5(c_mediumtext), md5(c_longtext), c_enum, c_set FROM " + t + " ORDER BY id";
    EXPECT_EQ(live_db.rows(pg_query), source);
    EXPECT_EQ(script_db.rows(pg_query), source);

    // Each serial continues after its highest value (1 for an empty table).
    EXPECT_EQ(s.sequences.size(), 4u);
    for (const std::string& line : s.sequences) {
        const std::string table = line.substr(0, line.find('|'));
        const std::string next = line.substr(line.rfind('|') + 1);
        if (table == "empty_auto")
            EXPECT_EQ(next, "1") << line;
        else if (table == "serial_beside_key")
            EXPECT_EQ(next, "3") << line;
    }

    // After loading the script, new rows without an id never collide.
    EXPECT_EQ(script_db.value("INSERT INTO " + t + " (c_created) VALUES (now()) RETURNING id"), "9");
    EXPECT_EQ(script_db.value("INSERT INTO " + name(schema) + "." + name("Order.Items \"v2\"") + " (" + name("Label") +
                              ") VALUES ('next') RETURNING " + name("Item Id")),
              "5002");

    // Doubles keep every digit; the many rows are all there, byte for byte.
    // (The servers spell exponents differently: the values are compared.)
    const auto values = [](const strings& rows) {
        std::vector<double> out;
        for (const std::string& row : rows) {
            const std::string text = row.substr(row.find('|') + 1);
            double v = 0;
            const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
            EXPECT_TRUE(ec == std::errc() && end == text.data() + text.size()) << row;
            out.push_back(v);
        }
        return out;
    };
    const std::vector<double> doubles = values(mysql_rows(src.name(), "SELECT id, d FROM doubles ORDER BY id"));
    const std::string doubles_query = "SELECT id, d FROM " + name(schema) + ".doubles ORDER BY id";
    EXPECT_EQ(values(live_db.rows(doubles_query)), doubles);
    EXPECT_EQ(values(script_db.rows(doubles_query)), doubles);
    const std::string many_digest =
        mysql_rows(src.name(), "SELECT MD5(GROUP_CONCAT(CONCAT(id, '|', label, '|', amount) ORDER BY id "
                               "SEPARATOR '\\n')) FROM many")
            .at(0);
    const std::string many_query = "SELECT md5(string_agg(id || '|' || label || '|' || amount, E'\\n' ORDER BY id)) "
                                   "FROM " + name(schema) + ".many";
    EXPECT_EQ(live_db.value(many_query), many_digest);
    EXPECT_EQ(script_db.value(many_query), many_digest);

    // Geometry arrives as the same shapes.
    const strings shapes = mysql_rows(src.name(), "SELECT id, ST_AsText(g), ST_AsText(p), ST_AsText(area) "
                                                  "FROM shapes ORDER BY id");
    const std::string shapes_query = "SELECT id, ST_AsText(g), ST_AsText(p), ST_AsText(area) FROM " + name(schema) +
                                     ".shapes ORDER BY id";
    EXPECT_EQ(live_db.rows(shapes_query), shapes);
    EXPECT_EQ(script_db.rows(shapes_query), shapes);
}

INSTANTIATE_TEST_SUITE_P(runs, script_matches_live_test,
                         ::testing::Values(run_case{"copy_case_sensitive", true, true},
                                           run_case{"insert_case_sensitive", false, true},
                                           run_case{"copy_folded_names", true, false},
                                           run_case{"insert_folded_names", false, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(script_and_live_test, definitions_only_unlogged_without_indexes_agree)
{
    load_full_source();
    convert_both({"--tab_def", "--skip_idx", "--unlogged", "--case_sens"});
    if (HasFatalFailure())
        return;
    const database_facts l = facts_of(live_db);
    const database_facts s = facts_of(script_db);
    EXPECT_EQ(l.tables.size(), 11u);
    EXPECT_EQ(l.tables, s.tables);
    EXPECT_EQ(l.columns, s.columns);
    EXPECT_EQ(l.indexes, strings{});
    EXPECT_EQ(s.indexes, strings{});
    EXPECT_EQ(l.constraints, s.constraints);
    const std::string kinds = "SELECT c.relname, c.relpersistence FROM pg_class c JOIN pg_namespace n "
                              "ON n.oid = c.relnamespace WHERE n.nspname = '" + schema + "' AND c.relkind = 'r' "
                              "ORDER BY 1";
    EXPECT_EQ(live_db.rows(kinds), script_db.rows(kinds));
    for (const std::string& line : l.tables) {
        const std::string table = line.substr(0, line.rfind('|'));
        EXPECT_EQ(row_differences(live_db, script_db, table), strings{}) << table;
        std::string quoted = "\"";
        for (char c : table)
            quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
        EXPECT_EQ(script_db.value("SELECT count(*) FROM " + schema + "." + quoted + "\""), "0") << table;
    }
}

TEST_F(script_and_live_test, definitions_only_leave_the_serial_at_the_same_next_value)
{
    src.exec("CREATE TABLE t (id INT AUTO_INCREMENT PRIMARY KEY, v TEXT); INSERT INTO t (v) VALUES ('a'), ('b');");
    convert_both({"--tab_def"});
    if (HasFatalFailure())
        return;
    const database_facts l = facts_of(live_db);
    const database_facts s = facts_of(script_db);
    EXPECT_EQ(l.sequences, s.sequences);
    EXPECT_EQ(l.sequences, strings{"t|id|sales.t_id_seq|3"});
}

// The source's counter stands past its highest id (rows at the top were deleted): a merge rerun
// keeps the sequence on the source's next value instead of setting it back to the highest id,
// which would hand out the ids of the deleted rows again. Once the sequence has been used, a
// rerun leaves it where it stands.
TEST_F(script_and_live_test, a_merge_rerun_never_sets_the_sequence_back)
{
    src.exec("CREATE TABLE t (id INT AUTO_INCREMENT PRIMARY KEY, v TEXT); INSERT INTO t (v) VALUES ('a'), ('b');"
             "ALTER TABLE t AUTO_INCREMENT = 100;");
    convert_both({});
    if (HasFatalFailure())
        return;
    const auto rerun = [&] {
        const strings common = {"--src=" + src.name(), "--schema=" + schema, "--mode=3"};
        const run_result live = run_quindrel(connection_options() + common + strings{"--dest=" + live_db.name()});
        EXPECT_EQ(live.status, 0) << live.out << live.err;
        strings mysql_options = connection_options();
        mysql_options.resize(4);
        const std::string script = dir.file("merge.sql");
        const run_result dump = run_quindrel(mysql_options + common + strings{"--dest=" + script, "--dump"});
        EXPECT_EQ(dump.status, 0) << dump.out << dump.err;
        run_psql(script);
    };
    rerun();
    EXPECT_EQ(facts_of(live_db).sequences, strings{"t|id|sales.t_id_seq|100"});
    EXPECT_EQ(facts_of(script_db).sequences, strings{"t|id|sales.t_id_seq|100"});
    rerun();
    EXPECT_EQ(facts_of(live_db).sequences, strings{"t|id|sales.t_id_seq|101"});
    EXPECT_EQ(facts_of(script_db).sequences, strings{"t|id|sales.t_id_seq|101"});
}

TEST_F(script_and_live_test, script_loaded_a_second_time_gives_the_same_database)
{
    load_full_source();
    convert_both({"--fast_insert", "--case_sens"});
    if (HasFatalFailure())
        return;
    // Users run a script again after a failed or partial load: it replaces
    // what the first load made.
    run_psql(dir.file("out.sql"));
    if (HasFatalFailure())
        return;
    const database_facts l = facts_of(live_db);
    const database_facts s = facts_of(script_db);
    EXPECT_EQ(l.tables, s.tables);
    EXPECT_EQ(l.columns, s.columns);
    EXPECT_EQ(l.indexes, s.indexes);
    EXPECT_EQ(l.constraints, s.constraints);
    EXPECT_EQ(l.sequences, s.sequences);
    for (const std::string& line : l.tables) {
        const std::string table = line.substr(0, line.rfind('|'));
        EXPECT_EQ(row_differences(live_db, script_db, table), strings{}) << table;
    }
}

// PostgreSQL texts cannot hold the zero character. A text holding one must not arrive cut short
// at it without a word: its row fails with the same report on both sides, the other rows arrive.
TEST_F(script_and_live_test, text_with_a_zero_byte_is_not_cut_short_silently)
{
    src.exec("CREATE TABLE notes (id INT PRIMARY KEY, body LONGTEXT);"
             "INSERT INTO notes VALUES (1, 'it''s\\0zero'), (2, 'plain');");
    for (const bool copy : {true, false}) {
        SCOPED_TRACE(copy ? "COPY" : "INSERT");
        const strings common = copy ? strings{"--src=" + src.name(), "--schema=" + schema, "--fast_insert"}
                                    : strings{"--src=" + src.name(), "--schema=" + schema};
        const run_result live = run_quindrel(connection_options() + common + strings{"--dest=" + live_db.name()});
        ASSERT_EQ(live.status, 1) << live.out << live.err;
        const std::string script = dir.file(copy ? "copy.sql" : "insert.sql");
        strings mysql_options = connection_options();
        mysql_options.resize(4);
        const run_result dump = run_quindrel(mysql_options + common + strings{"--dest=" + script, "--dump"});
        ASSERT_EQ(dump.status, 1) << dump.out << dump.err;
        const std::string report =
            "notes, record #1: Column \"body\" contains a zero character, which PostgreSQL text cannot hold";
        EXPECT_NE(live.err.find(report), std::string::npos) << live.err;
        EXPECT_NE(dump.err.find(report), std::string::npos) << dump.err;
        // The second script replaces the first one's table, as the second live run does.
        if (copy)
            load_script(script);
        else
            run_psql(script);
        if (HasFatalFailure())
            return;
        const std::string query = "SELECT id || '|' || body FROM " + schema + ".notes ORDER BY id";
        EXPECT_EQ(live_db.rows(query), (strings{"2|plain"}));
        EXPECT_EQ(script_db.rows(query), (strings{"2|plain"}));
    }
}

TEST_F(script_and_live_test, empty_text_default_of_a_not_null_column_is_kept)
{
    src.exec("CREATE TABLE items (id INT AUTO_INCREMENT PRIMARY KEY, label VARCHAR(40) NOT NULL DEFAULT '');"
             "INSERT INTO items (id) VALUES (1);");
    convert_both({});
    if (HasFatalFailure())
        return;
    // An insert that names no label works in MySQL and must work after the move.
    const std::string insert = "INSERT INTO " + schema + ".items (id) VALUES (2) RETURNING label";
    EXPECT_EQ(live_db.value(insert), "");
    EXPECT_EQ(script_db.value(insert), "");
}

TEST_F(script_and_live_test, fractional_seconds_of_datetime_are_kept)
{
    src.exec("CREATE TABLE moments (id INT PRIMARY KEY, at DATETIME(6), at3 DATETIME(3));"
             "INSERT INTO moments VALUES (1, '2024-02-29 12:34:56.000001', '2024-02-29 12:34:56.5'),"
             "(2, '9999-12-31 23:59:59.999999', '9999-12-31 23:59:59.999');");
    convert_both({"--fast_insert"});
    if (HasFatalFailure())
        return;
    const std::string query = "SELECT id, at::text, at3::text FROM " + schema + ".moments ORDER BY id";
    const strings expected{"1|2024-02-29 12:34:56.000001|2024-02-29 12:34:56.5",
                           "2|9999-12-31 23:59:59.999999|9999-12-31 23:59:59.999"};
    EXPECT_EQ(live_db.rows(query), expected);
    EXPECT_EQ(script_db.rows(query), expected);
}

TEST_F(script_and_live_test, zero_timestamp_in_a_not_null_column_arrives_on_both_sides)
{
    // The zero value has no PostgreSQL form and becomes NULL, which the NOT NULL column refuses:
    // that one row fails with the same report on both sides, and the script still loads whole.
    src.exec("CREATE TABLE stamps (id INT PRIMARY KEY, at TIMESTAMP NOT NULL DEFAULT CURRENT_TIMESTAMP);"
             "INSERT INTO stamps VALUES (1, '0000-00-00 00:00:00'), (2, '2020-01-01 10:00:00');");
    const strings common = {"--src=" + src.name(), "--schema=" + schema, "--fast_insert"};
    const run_result live = run_quindrel(connection_options() + common + strings{"--dest=" + live_db.name()});
    ASSERT_EQ(live.status, 1) << live.out << live.err;
    const std::string script = dir.file("out.sql");
    strings mysql_options = connection_options();
    mysql_options.resize(4);
    const run_result dump = run_quindrel(mysql_options + common + strings{"--dest=" + script, "--dump"});
    ASSERT_EQ(dump.status, 1) << dump.out << dump.err;
    const std::string report =
        "stamps, record #1: null value in column \"at\" of relation \"stamps\" violates not-null constraint";
    EXPECT_NE(live.err.find(report), std::string::npos) << live.err;
    EXPECT_NE(dump.err.find(report), std::string::npos) << dump.err;
    load_script(script);
    if (HasFatalFailure())
        return;
    const std::string query = "SELECT id FROM " + schema + ".stamps ORDER BY id";
    EXPECT_EQ(live_db.rows(query), (strings{"2"}));
    EXPECT_EQ(script_db.rows(query), (strings{"2"}));
}

}  // namespace
