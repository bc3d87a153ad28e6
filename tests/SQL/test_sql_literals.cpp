// Values and names in MySQL statement text: literals by kind, field texts for INSERT, column
// defaults, and the CREATE TABLE pieces. Every quote, backslash and control byte must come out
// escaped, and no text may go bare unless it is a plain number or a hexadecimal literal.
#include <gtest/gtest.h>

#include "SQL/sql_ddl_builders.h"
#include "SQL/sql_literals.h"
#include "SQL/sql_quote.h"
#include "SQL/sql_sync.h"
#include "UDB/udb_record_key.h"
#include "UDB/udb_recordset.h"
#include "UDB/udb_field.h"
#include "UDB/udb_schema.h"
#include "sql_test_support.h"

namespace {

struct literal_case {
    const char* text;
    VARTYPE kind;
    const char* expected;
};

std::ostream& operator<<(std::ostream& os, const literal_case& c)
{
    return os << "[" << c.text << "] kind " << c.kind;
}

class sql_literal : public ::testing::TestWithParam<literal_case> {};

TEST_P(sql_literal, text_of_a_kind)
{
    const auto& c = GetParam();
    EXPECT_EQ(to_mysql_str(c.text, c.kind), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    table, sql_literal,
    ::testing::ValuesIn(std::vector<literal_case>{
        {"O'Brien", VT_BSTR, "'O\\'Brien'"},
        // A text that is no number never goes bare, whatever the kind.
        {"O'Brien", VT_I4, "'O\\'Brien'"},
        {"1); DROP TABLE t; --", VT_I4, "'1); DROP TABLE t; --'"},
        {"12", VT_I4, "12"},
        {"-1.5e+03", VT_R8, "-1.5e+03"},
        {"1", VT_BOOL, "1"},
        {"a\\b", VT_BSTR, "'a\\\\b'"},
        {"line\nnext\r\x1a\"", VT_BSTR, "'line\\nnext\\r\\Z\\\"'"},
        {"", VT_I4, "''"},
        {"", VT_BSTR, "''"},
        {"x", VT_NULL, "NULL"},
        {"x", VT_EMPTY, "NULL"},
        // Binary values given as text: hexadecimal or decimal literals stay, the rest is quoted.
        {"0x1F2E", VT_BLOB, "0x1F2E"},
        {"0x1G", VT_BLOB, "'0x1G'"},
        {"0x", VT_BLOB, "'0x'"},
        {"1234", VT_BYTE_ARRAY, "1234"},
        {"12a4", VT_BLOB, "'12a4'"},
        {"1x22", VT_BLOB, "'1x22'"},
        {"7", VT_BLOB, "'7'"},
        {"0x1' OR '1", VT_BLOB, "'0x1\\' OR \\'1'"},
        // A text holding a GUID is written whole.
        {"guid{6F9619FF-8B86-D011-B42D-00C04FC964FF}", VT_BSTR, "'guid{6F9619FF-8B86-D011-B42D-00C04FC964FF}'"},
        {"{6F9619FF-8B86-D011-B42D-00C04FC964FF}", VT_BSTR, "'{6F9619FF-8B86-D011-B42D-00C04FC964FF}'"},
        // Dates are printed again in full; a time of day alone has no date part.
        {"2020-1-2", VT_DATE, "'2020-01-02'"},
        {"2020-01-02 10:20:30.5", VT_DATE, "'2020-01-02 10:20:30.500000'"},
        {"10:20:30", VT_DATE, "'10:20:30'"},
    }));

TEST(sql_literal_edges, zero_characters_survive_and_a_non_date_is_refused)
{
    EXPECT_EQ(to_mysql_str(std::string_view("a\0b", 3), VT_BSTR), "'a\\0b'");
    EXPECT_EQ(to_mysql_wstr(std::wstring(L"a\0b'\U0001F600", 5), VT_BSTR), std::wstring(L"'a\\0b\\'\U0001F600'"));
    EXPECT_THROW(to_mysql_str("not a date", VT_DATE), tk_exception);
}

TEST(sql_field_literal, bytes_dates_and_texts_with_zero_characters)
{
    udb_field bytes(L"b", 2, ole_variant(std::vector<std::uint8_t>{0x01, 0xAB}));
    EXPECT_EQ(to_mysql_str(bytes), "0x01AB");
    // An empty byte string is a value, not NULL.
    udb_field none(L"b", 0, ole_variant(std::vector<std::uint8_t>{}));
    EXPECT_EQ(to_mysql_str(none), "''");
    udb_field text(L"t", 3, ole_variant(std::wstring(L"x\0y", 3)));
    EXPECT_EQ(to_mysql_str(text), "'x\\0y'");
    udb_field date(L"d", 8, ole_variant(ole_date("2021-03-04 05:06:07")));
    EXPECT_EQ(to_mysql_str(date), "'2021-03-04 05:06:07'");
    udb_field null_field(L"n", 0, ole_variant());
    EXPECT_EQ(to_mysql_str(null_field), "NULL");
}

TEST(sql_insert_value, null_empty_numbers_geometry_and_placeholders)
{
    t_ftd nullable_int(4, L"i", VT_I4, false, false);
    t_ftd required_int(4, L"i", VT_I4, true, false);
    t_ftd required_text(10, L"s", VT_BSTR, true, false);
    t_ftd blob(0, L"b", VT_BYTE_ARRAY, false, false);
    t_ftd geometry(0, L"g", VT_BSTR, false, false, ole_variant(), udb_subtype::geometry);

    udb_field null_field(L"f", 0, ole_variant());
    EXPECT_EQ(get_fld_append_str(null_field, nullable_int, false), "NULL");
    // The server fills in the column's default (or the next auto-increment number).
    EXPECT_EQ(get_fld_append_str(null_field, required_int, false), "DEFAULT");
    udb_field empty_text(L"f", 0, ole_variant(L""));
    EXPECT_EQ(get_fld_append_str(empty_text, required_text, false), "''");
    EXPECT_EQ(get_fld_append_str(empty_text, nullable_int, false), "NULL");
    udb_field five(L"f", 1, ole_variant(L"5"));
    EXPECT_EQ(get_fld_append_str(five, nullable_int, false), "5");
    udb_field word(L"f", 3, ole_variant(L"a'b"));
    EXPECT_EQ(get_fld_append_str(word, nullable_int, false), "'a\\'b'");
    udb_field point(L"g", 10, ole_variant(L"POINT(1 2)"));
    EXPECT_EQ(get_fld_append_str(point, geometry, false), "ST_GeomFromText('POINT(1 2)')");
    // A geometry read from a server (EWKB) goes back as its WKB with its SRID.
    udb_field ewkb(L"g", 50, ole_variant(L"0101000020E6100000000000000000F03F0000000000000040"));
    EXPECT_EQ(get_fld_append_str(ewkb, geometry, false),
              "ST_GeomFromWKB(X'0101000000000000000000F03F0000000000000040', 4326)");

    udb_field big(L"b", 2000000, ole_variant(std::vector<std::uint8_t>(2000000, 0x5A)));
    EXPECT_EQ(get_fld_append_str(big, blob, true), "?");
    std::string hex = get_fld_append_str(big, blob, false);
    EXPECT_EQ(hex.size(), 2 + 4000000u);
    EXPECT_EQ(hex.substr(0, 6), "0x5A5A");
}

struct default_case {
    VARTYPE kind;
    const wchar_t* value;
    std::int32_t sub_type;
    const wchar_t* expected;
};

std::ostream& operator<<(std::ostream& os, const default_case& c)
{
    return os << tk_unicode_to_utf8(c.value) << " kind " << c.kind << " sub " << c.sub_type;
}

class sql_default : public ::testing::TestWithParam<default_case> {};

TEST_P(sql_default, of_a_column)
{
    const auto& c = GetParam();
    t_ftd col(10, L"c", c.kind, false, false, ole_variant(c.value), c.sub_type);
    EXPECT_EQ(make_mysql_def_val(col), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    table, sql_default,
    ::testing::ValuesIn(std::vector<default_case>{
        {VT_I4, L"5", 0, L"5"},
        {VT_I4, L"05", 0, L""},
        {VT_I4, L"+5", 0, L""},
        {VT_I4, L"99999999999", 0, L""},
        {VT_I8, L"99999999999", 0, L"99999999999"},
        {VT_UI8, L"-1", 0, L""},
        {VT_R8, L"0.00", 0, L"0.00"},
        {VT_R8, L"-2.5e3", 0, L"-2.5e3"},
        {VT_R8, L"abc", 0, L""},
        // Only a whole number is a float default: a number followed by more text is none.
        {VT_R8, L"12abc", 0, L""},
        {VT_DECIMAL, L"1; DROP TABLE t", 0, L""},
        {VT_DECIMAL, L"1,5", 0, L"1.5"},
        {VT_BSTR, L"abc", 0, L"'abc'"},
        {VT_BSTR, L"it's \\", 0, L"'it\\'s \\\\'"},
        {VT_BSTR, L"newid()", 0, L"'newid()'"},
        {VT_DATE, L"GETDATE()", 0, L"CURRENT_TIMESTAMP"},
        {VT_DATE, L"", 9, L"CURRENT_TIMESTAMP"},
        {VT_DATE, L"2020-1-2", 2, L"'2020-01-02'"},
        {VT_DATE, L"never", 0, L""},
        {VT_I4, L"newid()", 0, L""},
        {VT_BSTR, L"to_char(sysdate,'yyyy-mm-dd hh24:mi:ss')", 0, L""},
    }));

// --- CREATE TABLE pieces (the server's version decides the name rules) -------------------------

TEST(sql_ddl_builders, column_definitions_escape_comments_and_quote_names)
{
    connected_engine();
    udb_schema columns;
    t_ftd& id = columns.add_column(t_ftd(4, L"id", VT_I4, false, true, ole_variant(), 0, L"int(11)"));
    (void)id;
    t_ftd& note = columns.add_column(t_ftd(0, L"note", VT_BSTR, false, false, ole_variant(), 0, L"TEXT"));
    note.comment = L"it's a \\ note";
    columns.add_column(t_ftd(10, L"a`b", VT_BSTR, false, false, ole_variant(L"x'y")));
    columns.add_column(t_ftd(8, L"r", VT_R8, false, true));  // auto-increment of no integer kind
    udb_indexes no_indexes;
    std::wstring auto_name = L"stale";
    sql_schema_initializer builder(L"t", columns, no_indexes, auto_name);
    std::vector<std::wstring> chunks;
    builder.get_init_chunks(chunks, nullptr);
    ASSERT_EQ(chunks.size(), 4u);
    EXPECT_EQ(chunks[0], L"`id` int(11) NOT NULL AUTO_INCREMENT");
    EXPECT_EQ(chunks[1], L"`note` TEXT CHARACTER SET utf8mb4 COMMENT 'it\\'s a \\\\ note'");
    // The backtick is no acceptable name character: the column gets a safe name.
    EXPECT_EQ(chunks[2].substr(0, 5), L"`a_b`");
    EXPECT_NE(chunks[2].find(L"DEFAULT 'x\\'y'"), std::wstring::npos) << tk_unicode_to_utf8(chunks[2]);
    EXPECT_EQ(chunks[3], L"`r` DOUBLE NOT NULL");
    EXPECT_EQ(auto_name, L"id");
    EXPECT_EQ(builder.get_names_map().get_mapped_name(L"a`b"), L"a_b");

    sql_indexes_initializer indexes(builder.get_columns(), no_indexes, auto_name, builder.get_names_map());
    std::vector<std::wstring> clauses;
    indexes.get_init_chunks(clauses);
    ASSERT_EQ(clauses.size(), 1u);
    EXPECT_EQ(clauses[0], L"INDEX `id` (`id`)");
}

TEST(sql_ddl_builders, index_clauses_keep_what_the_server_can_take)
{
    connected_engine();
    udb_schema columns;
    columns.add_column(t_ftd(4, L"id", VT_I4, true, true));
    columns.add_column(t_ftd(768, L"s768", VT_BSTR, false, false));
    columns.add_column(t_ftd(769, L"s769", VT_BSTR, false, false));
    columns.add_column(t_ftd(0, L"blob", VT_BYTE_ARRAY, false, false));
    columns.add_column(t_ftd(768, L"t768", VT_BSTR, false, false));
    columns.add_column(t_ftd(768, L"u768", VT_BSTR, false, false));
    udb_indexes source;
    source.push_back(udb_index(L"PRIMARY", true, true, {L"id"}));
    source.push_back(udb_index(L"ok768", false, false, {L"s768"}));
    source.push_back(udb_index(L"long", false, false, {L"s769"}));
    source.push_back(udb_index(L"lob", true, false, {L"blob"}));
    source.push_back(udb_index(L"two", false, false, {L"s768", L"t768"}));
    source.push_back(udb_index(L"three", false, false, {L"s768", L"t768", L"u768"}));
    source.push_back(udb_index(L"empty", false, false, {}));
    source.push_back(udb_index(L"bad`name", false, false, {L"id"}));
    std::wstring auto_name;
    sql_schema_initializer schema_builder(L"t", columns, source, auto_name);
    std::vector<std::wstring> chunks;
    schema_builder.get_init_chunks(chunks, nullptr);
    sql_indexes_initializer builder(schema_builder.get_columns(), source, auto_name, schema_builder.get_names_map());
    std::vector<std::wstring> clauses;
    builder.get_init_chunks(clauses);
    ASSERT_EQ(clauses.size(), 4u);
    EXPECT_EQ(clauses[0], L"PRIMARY KEY (`id`)");
    EXPECT_EQ(clauses[1], L"INDEX `ok768` (`s768`)");
    EXPECT_EQ(clauses[2], L"INDEX `two` (`s768`, `t768`)");
    EXPECT_EQ(clauses[3], L"INDEX `bad_name` (`id`)");
}

// The WHERE condition of a key text: names in backticks, numbers of numeric columns and
// hexadecimal texts of binary columns bare, any other value an escaped literal of the whole
// decoded value followed by a blank. Unknown names and malformed texts never reach a statement.
struct key_condition_case {
    const char* label;
    const wchar_t* key;
    const wchar_t* expected;  // nullptr: throws
};

std::ostream& operator<<(std::ostream& os, const key_condition_case& c)
{
    return os << c.label;
}

class sql_key_condition : public ::testing::TestWithParam<key_condition_case> {};

TEST_P(sql_key_condition, of_a_key_text)
{
    udb_schema columns;
    columns.add_column(t_ftd(4, L"id", VT_I4, true, false));
    columns.add_column(t_ftd(20, L"name", VT_BSTR, false, false));
    columns.add_column(t_ftd(16, L"bin", VT_BYTE_ARRAY, false, false));
    columns.add_column(t_ftd(10, L"price", VT_DECIMAL, false, false));
    columns.add_column(t_ftd(8, L"at", VT_DATE, false, false));
    columns.add_column(t_ftd(20, L"we`ird", VT_BSTR, false, false));
    const auto& c = GetParam();
    if (!c.expected) {
        EXPECT_THROW(sql_sync::get_filter_subquery(columns, c.key), tk_exception);
        return;
    }
    EXPECT_EQ(sql_sync::get_filter_subquery(columns, c.key), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    keys, sql_key_condition,
    ::testing::ValuesIn(std::vector<key_condition_case>{
        {"empty", L"", L""},
        {"number_bare", L"<id>7</id>", L"`id`=7"},
        {"text_decoded_and_escaped", L"<id>7</id><name>x&amp;'y&lt;</name>", L"`id`=7 and `name`='x&\\'y<' "},
        {"empty_text", L"<name></name>", L"`name`='' "},
        {"decimal_bare", L"<price>12.50</price>", L"`price`=12.50"},
        {"hex_binary_bare", L"<bin>0x0AFF</bin>", L"`bin`=0x0AFF"},
        {"binary_that_is_no_hex_quoted", L"<bin>0x1' OR '1</bin>", L"`bin`='0x1\\' OR \\'1' "},
        {"number_that_is_no_number_quoted", L"<id>5 or 1=1</id>", L"`id`='5 or 1=1' "},
        {"date_quoted", L"<at>2024-01-02 03:04:05</at>", L"`at`='2024-01-02 03:04:05' "},
        {"backtick_in_name_doubled", L"<WE`IRD>v</WE`IRD>", L"`we``ird`='v' "},
        {"unknown_column", L"<nope>1</nope>", nullptr},
        {"malformed", L"<id>7</id", nullptr},
    }),
    [](const ::testing::TestParamInfo<key_condition_case>& info) { return std::string(info.param.label); });

TEST(sql_key_condition_errors, unknown_names_are_a_structure_error_and_broken_keys_a_key_error)
{
    udb_schema columns;
    columns.add_column(t_ftd(4, L"id", VT_I4, true, false));
    EXPECT_THROW(sql_sync::get_filter_subquery(columns, L"<nope>1</nope>"), udb_structure_exception);
    EXPECT_THROW(sql_sync::get_filter_subquery(columns, L"<id>1</nope>"), udb_key_text_exception);
}

}  // namespace
