// Rows are built once for both destinations: a value the live table refuses is
// refused in the script with the same message, the other rows arrive in both,
// as the same text. Also the declared types the script checks values against,
// and a refused row leaving nothing of itself in the buffer.
#include <gtest/gtest.h>

#include <cwchar>
#include <cwctype>
#include <memory>
#include <string>
#include <vector>

#include "UDB/udb_index.h"
#include "pg_target/pgs_dump.h"
#include "pg_target/pgs_exception.h"
#include "pg_target/pgs_row_batch.h"
#include "pg_target/pgs_row_builder.h"
#include "pgs_live_fixture.h"
#include "support/psql_load.h"
#include "support/scratch_dir.h"

namespace {

// --- the types a script's CREATE TABLE declares ------------------------------------------

struct declared_case {
    const wchar_t* type;
    pgs_fit_check check;
    const char* type_name;  // as messages name it; "" when nothing is checked
};
std::ostream& operator<<(std::ostream& os, const declared_case& c)
{
    return os << std::string(c.type, c.type + std::wcslen(c.type));
}

const declared_case declared_cases[] = {
    {L"SMALLINT", pgs_fit_check::int16, "smallint"},
    {L"int2", pgs_fit_check::int16, "smallint"},
    {L"SMALLSERIAL", pgs_fit_check::int16, "smallint"},
    {L"SERIAL", pgs_fit_check::int32, "integer"},
    {L"Integer", pgs_fit_check::int32, "integer"},
    {L"BIGSERIAL", pgs_fit_check::int64, "bigint"},
    {L"VARCHAR(3) ", pgs_fit_check::chars, "character varying(3)"},
    {L"character  varying ( 3 )", pgs_fit_check::chars, "character varying(3)"},
    {L"CHAR(10) ", pgs_fit_check::chars, "character(10)"},
    {L"CHAR", pgs_fit_check::chars, "character(1)"},  // CHAR alone holds one character
    {L"DECIMAL(10,2)", pgs_fit_check::numeric, "numeric(10,2)"},
    {L"NUMERIC(20)", pgs_fit_check::numeric, "numeric(20,0)"},
    // unbounded, or not a type whose values this side checks
    {L"VARCHAR", pgs_fit_check::none, ""},
    {L"NUMERIC", pgs_fit_check::none, ""},
    {L"TEXT", pgs_fit_check::none, ""},
    {L"integer[]", pgs_fit_check::none, ""},
    {L"VARCHAR(3)[]", pgs_fit_check::none, ""},
    {L"TIMESTAMP(6) WITH TIME ZONE", pgs_fit_check::none, ""},
    {L"", pgs_fit_check::none, ""},
};

class declared_type : public ::testing::TestWithParam<declared_case> {};

TEST_P(declared_type, gives_the_check_and_the_servers_name)
{
    const auto& c = GetParam();
    // The descriptor's own size and precision do not count: the declaration does.
    t_ftd column(50, L"c", VT_BSTR, false, false);
    column.precision = 30;
    const pgs_column_plan plan = pgs_plan_declared_column(column, L"c", c.type);
    EXPECT_EQ(plan.check, c.check);
    if (c.check != pgs_fit_check::none) {
        EXPECT_EQ(plan.type_name, c.type_name);
    }
}
INSTANTIATE_TEST_SUITE_P(pgs_row_builder, declared_type, ::testing::ValuesIn(declared_cases),
                         [](const auto& info) {
                             std::string name = std::to_string(info.index) + "_";
                             for (const wchar_t* c = info.param.type; *c; ++c)
                                 name += std::iswalnum(*c) ? static_cast<char>(*c) : '_';
                             return name;
                         });

TEST(pgs_row_builder, a_refused_row_leaves_the_buffer_as_it_was)
{
    udb_schema s;
    s.add_column(t_ftd(0, L"n", VT_I4, false, false));
    s.add_column(t_ftd(0, L"t", VT_BSTR, false, false));
    std::vector<pgs_column_plan> plans;
    plans.push_back(pgs_plan_declared_column(s[0], L"n", L"SMALLINT"));
    plans.push_back(pgs_plan_declared_column(s[1], L"t", L"VARCHAR(3)"));
    pgs_row_builder rows(std::move(plans));
    udb_record ok = make_record({{L"n", ole_variant(7)}, {L"t", ole_variant(L"a\tb")}});
    udb_record bad = make_record({{L"n", ole_variant(7)}, {L"t", ole_variant(L"abcd")}});
    const pgs_record_layout layout = pgs_match_fields(ok, s);
    for (const bool sql : {false, true}) {
        std::string out = "before|";
        const auto append = [&](const udb_record& r) {
            sql ? rows.append_sql_values(out, r, layout) : rows.append_copy_line(out, r, layout);
        };
        append(ok);
        const std::string kept = out;
        EXPECT_THROW(append(bad), pgs_exception);
        EXPECT_EQ(out, kept);
        append(ok);
        EXPECT_EQ(out, sql ? "before|(7, 'a\tb')(7, 'a\tb')" : "before|7\ta\\tb\n7\ta\\tb\n");
    }
}

// --- large values of a live batch ---------------------------------------------------------

// The batch's rows as the server receives them: the text with the pieces where they stand.
std::string sent_text(const pgs_row_batch& b)
{
    std::string s;
    std::size_t at = 0;
    for (const auto& p : b.pieces) {
        s.append(b.text, at, p.at - at);
        s += p.view();
        at = p.at;
    }
    s.append(b.text, at);
    return s;
}

struct large_text_case {
    const char* what;
    std::string text;  // UTF-8, as the MySQL side attaches it
};
std::ostream& operator<<(std::ostream& os, const large_text_case& c) { return os << c.what; }

std::string with_every_escape(std::string s)
{
    for (std::size_t i = 0; i < s.size(); i += 4099) s[i] = "\\\t\n\r"[(i / 4099) % 4];
    return s;
}

const large_text_case large_text_cases[] = {
    {"plain", std::string(pgs_row_builder::hand_over_size, 'a')},
    {"a few escapes", with_every_escape(std::string(300000, 'b'))},
    {"escapes only", std::string(200000, '\t')},
    {"several bytes a character", [] {
         std::string s;
         for (int i = 0; s.size() < 150000; ++i) s += i % 400 ? "\xc3\xa9\xe4\xb8\xad\xf0\x9f\x98\x80" : "\r\n";
         return s;
     }()},
};

class large_text_in_a_batch : public ::testing::TestWithParam<large_text_case> {};

TEST_P(large_text_in_a_batch, is_written_as_the_same_text_and_not_held_twice)
{
    const auto& c = GetParam();
    udb_schema s;
    s.add_column(t_ftd(0, L"n", VT_I4, false, false));
    s.add_column(t_ftd(0, L"big", VT_BSTR, false, false));
    s.add_column(t_ftd(0, L"small", VT_BSTR, false, false));
    s.add_column(t_ftd(0, L"bin", VT_BYTE_ARRAY, false, false));
    std::vector<pgs_column_plan> plans;
    for (std::size_t i = 0; i < s.size(); ++i) plans.push_back(pgs_plan_declared_column(s[i], s[i].name, L""));
    pgs_row_builder rows(std::move(plans));
    const udb_record source =
        make_record({{L"n", ole_variant(7)}, {L"big", ole_variant(c.text)}, {L"small", ole_variant(std::string("x\ty"))},
                     {L"bin", ole_variant(std::vector<std::uint8_t>(100000, 0xab))}});
    ASSERT_NE(source[1].utf8_text(), nullptr);
    const pgs_record_layout layout = pgs_match_fields(source, s);
    for (const bool sql : {false, true}) {
        SCOPED_TRACE(sql ? "INSERT" : "COPY");
        std::string expected = sql ? "INSERT INTO t VALUES " : "";
        pgs_row_batch batch;
        batch.inserts = sql;
        batch.prefix = "INSERT INTO t VALUES ";
        for (int row = 1; row <= 2; ++row) {
            udb_record r = source;
            // As the reader fills a field (a copy keeps no room).
            r[1].attach_string(c.text);
            r[3].attach_binary(source[3].get_byte_vector());
            sql ? rows.append_sql_values(expected, r, layout) : rows.append_copy_line(expected, r, layout);
            if (sql && row == 1) expected += ", ";
            const char* held = r[1].utf8_text()->data();
            const std::uint8_t* held_bytes = r[3].get_byte_vector().data();
            batch.start_row();
            sql ? rows.append_sql_values(batch, r, layout) : rows.append_copy_line(batch, r, layout);
            batch.end_row(std::uint64_t(row));
            if (!sql) {
                // Handed over, not copied: the text, and the byte array turned into its digits
                // in the room the reader left.
                ASSERT_EQ(batch.pieces.size(), std::size_t(2 * row));
                EXPECT_EQ(batch.pieces[2 * row - 2].text.data(), held);
                EXPECT_EQ(batch.pieces[2 * row - 1].bytes.data(), held_bytes);
            }
            // Left behind: an empty text and an empty byte array, neither NULL; small values stay.
            EXPECT_EQ(r[1].get_vt(), VT_BSTR);
            EXPECT_EQ(r[1].text_length(), 0u);
            EXPECT_EQ(r[1].to_string(), "");
            EXPECT_TRUE(r[3].is_binary());
            EXPECT_TRUE(r[3].get_byte_vector().empty());
            EXPECT_EQ(r[2].to_string(), "x\ty");
        }
        EXPECT_EQ(sent_text(batch), expected);
        EXPECT_EQ(batch.bytes(), expected.size());
    }
}
INSTANTIATE_TEST_SUITE_P(pgs_row_builder, large_text_in_a_batch, ::testing::ValuesIn(large_text_cases),
                         [](const auto& info) { return std::to_string(info.index); });

// Columns whose names differ only in case both take the one field of that name: its large
// text is written for each, not handed over to the first and missing from the second.
TEST(pgs_row_builder, a_large_text_filling_two_columns_is_written_for_both)
{
    udb_schema s;
    s.add_column(t_ftd(0, L"Body", VT_BSTR, false, false));
    s.add_column(t_ftd(0, L"body", VT_BSTR, false, false));
    std::vector<pgs_column_plan> plans;
    for (std::size_t i = 0; i < s.size(); ++i) plans.push_back(pgs_plan_declared_column(s[i], s[i].name, L""));
    pgs_row_builder rows(std::move(plans));
    const std::string big(100000, 'w');
    udb_record r = make_record({{L"body", ole_variant()}});
    r[0].attach_string(big);
    const pgs_record_layout layout = pgs_match_fields(r, s);
    ASSERT_EQ(layout.field_of_column, (std::vector<int>{0, 0}));
    pgs_row_batch batch;
    batch.start_row();
    rows.append_copy_line(batch, r, layout);
    batch.end_row(1);
    EXPECT_EQ(sent_text(batch), big + "\t" + big + "\n");
}

TEST(pgs_row_builder, a_row_refused_after_its_large_values_leaves_the_batch_as_it_was)
{
    udb_schema s;
    s.add_column(t_ftd(0, L"big", VT_BSTR, false, false));
    s.add_column(t_ftd(0, L"bin", VT_BYTE_ARRAY, false, false));
    s.add_column(t_ftd(0, L"code", VT_BSTR, false, false));
    std::vector<pgs_column_plan> plans;
    plans.push_back(pgs_plan_declared_column(s[0], L"big", L""));
    plans.push_back(pgs_plan_declared_column(s[1], L"bin", L""));
    plans.push_back(pgs_plan_declared_column(s[2], L"code", L"VARCHAR(3)"));
    pgs_row_builder rows(std::move(plans));
    const std::string big(100000, 'q');
    const std::vector<std::uint8_t> bin(70000, 0x5c);
    const auto record = [&](const char* code) {
        udb_record r = make_record({{L"big", ole_variant()}, {L"bin", ole_variant()},
                                    {L"code", ole_variant(std::string(code))}});
        r[0].attach_string(big);
        r[1].attach_binary(bin);
        return r;
    };
    udb_record ok = record("abc");
    const pgs_record_layout layout = pgs_match_fields(ok, s);
    pgs_row_batch batch;
    batch.start_row();
    rows.append_copy_line(batch, ok, layout);
    batch.end_row(1);
    const std::string kept = sent_text(batch);
    udb_record bad = record("abcd");
    batch.start_row();
    EXPECT_THROW(rows.append_copy_line(batch, bad, layout), pgs_exception);
    EXPECT_EQ(sent_text(batch), kept);
    EXPECT_EQ(batch.bytes(), kept.size());
    // A row that failed half way, whose pieces are taken back out by the next start_row.
    batch.add_piece(big);
    batch.add_piece(bin);
    batch.start_row();
    EXPECT_EQ(sent_text(batch), kept);
    EXPECT_EQ(batch.pieces.size(), 2u);
    EXPECT_EQ(batch.bytes(), kept.size());
    std::string hex;
    for (std::size_t i = 0; i < bin.size(); ++i) hex += "5C";
    EXPECT_EQ(kept, big + "\t\\\\x" + hex + "\tabc\n");
}

// --- the same refusals, live and in the script -------------------------------------------

class script_and_live_rows : public pgs_live_suite {};

TEST_F(script_and_live_rows, refuse_the_same_values_with_the_same_message_and_store_the_same_rest)
{
    // "small" is an INTEGER source column a type mapping made SMALLINT, "ratio" a DOUBLE one
    // made REAL.
    udb_schema s = make_schema({{L"id", VT_I4}, {L"small", VT_I4}, {L"code", VT_BSTR, 3},
                                {L"amount", VT_DECIMAL, 0, 5, 2}, {L"body", VT_BSTR}, {L"ratio", VT_R8}});
    s[1].nativetype = L"SMALLINT";
    s[5].nativetype = L"REAL";
    struct row {
        int id;
        ole_variant small, code, amount, body;
        const char* refusal;  // nullptr: the row fits
        ole_variant ratio = ole_variant(0.5);
    };
    const ole_variant one = ole_variant::from_string("1", VT_DECIMAL);
    const row rows[] = {
        {1, ole_variant(-32768), ole_variant(L"abc"), ole_variant::from_string("999.99", VT_DECIMAL),
         ole_variant(L"first"), nullptr},
        {2, ole_variant(70000), ole_variant(L"abc"), one, ole_variant(L"x"),
         "Value '70000' does not fit column \"small\" (smallint)"},
        {3, ole_variant(1), ole_variant(L"abcd"), one, ole_variant(L"x"),
         "Value 'abcd' does not fit column \"code\" (character varying(3))"},
        {4, ole_variant(1), ole_variant(L"a"), one, ole_variant(std::wstring(L"a\0b", 3)),
         "Column \"body\" contains a zero character, which PostgreSQL text cannot hold"},
        // rounded to two places it would have four digits before the point
        {5, ole_variant(1), ole_variant(L"a"), ole_variant::from_string("999.995", VT_DECIMAL), ole_variant(L"x"),
         "Value '999.995' does not fit column \"amount\" (numeric(5,2))"},
        // blanks beyond the length are cut, as the server does, not refused; so are zeros
        // beyond the scale
        {6, ole_variant(32767), ole_variant(L"ab    "), ole_variant::from_string("-999.990", VT_DECIMAL),
         ole_variant(L"tab\there"), nullptr, ole_variant(0.1)},
        {7, ole_variant(1), ole_variant(123), one, ole_variant(L"last"), nullptr},
        // a digit the scale would round away, and more digits than a REAL keeps, change the value
        {8, ole_variant(1), ole_variant(L"a"), ole_variant::from_string("12.345", VT_DECIMAL), ole_variant(L"x"),
         "Value '12.345' does not fit column \"amount\" (numeric(5,2))"},
        {9, ole_variant(1), ole_variant(L"a"), one, ole_variant(L"x"),
         "Value '3.141592653589793' does not fit column \"ratio\" (real)", ole_variant(3.141592653589793)},
    };

    test_env::scratch_dir dir("pgs_rows");
    const std::string path = dir.path() + "/rows.sql";
    std::vector<std::string> expected;
    for (const auto& r : rows)
        if (r.refusal) expected.push_back(r.refusal);

    for (const bool copy : {true, false}) {
        SCOPED_TRACE(copy ? "COPY" : "INSERT");
        engine().fast_insert = copy;
        const std::wstring live_table = copy ? L"rows_live_copy" : L"rows_live_ins";
        const std::wstring script_table = copy ? L"rows_script_copy" : L"rows_script_ins";
        const auto append_all = [&](udb_recordset& rs) {
            std::vector<std::string> refused;
            for (const auto& r : rows) {
                udb_record rec = make_record({{L"id", ole_variant(r.id)}, {L"small", r.small}, {L"code", r.code},
                                              {L"amount", r.amount}, {L"body", r.body}, {L"ratio", r.ratio}});
                try {
                    rs.append_record(rec);
                    EXPECT_EQ(r.refusal, nullptr) << "row " << r.id << " accepted";
                } catch (const pgs_exception& e) {
                    EXPECT_EQ(e.get_level(), 0);
                    refused.push_back(e.what());
                }
            }
            return refused;
        };
        udb_indexes none;
        {
            auto live = db().create_table1(live_table, s, none);
            EXPECT_EQ(append_all(*live), expected);
            finish_table(live);
        }
        {
            pgs_dump_options options;
            options.insert_comments = false;
            pgs_dmp_database script(tk_utf8_to_unicode(path), options);
            {
                auto rs = script.create_table1(script_table, s, none);
                EXPECT_EQ(append_all(*rs), expected);
            }
            script.close();
        }
        std::string output;
        ASSERT_EQ(test_env::run_psql(s_db_name, path, output), 0) << output << test_env::read_file(path);
        const auto stored = [&](const std::wstring& table) {
            return sql("select concat_ws('|', id, small, code, amount, body, ratio) from " + tk_unicode_to_utf8(table) +
                       " order by id");
        };
        const std::vector<std::string> live_rows = stored(live_table);
        EXPECT_EQ(live_rows, (std::vector<std::string>{"1|-32768|abc|999.99|first|0.5",
                                                       "6|32767|ab |-999.99|tab\there|0.1", "7|1|123|1.00|last|0.5"}));
        EXPECT_EQ(stored(script_table), live_rows);
    }
}

}  // namespace
