// Rows into a live PostgreSQL table through the recordset, by COPY and by
// INSERT, and what the server holds afterwards.
#include <gtest/gtest.h>

#include <tuple>

#include "UDB/udb_index.h"
#include "pg_target/pgs_exception.h"
#include "pg_target/pgs_quote.h"
#include "pg_target/pgs_recordset.h"
#include "pgs_live_fixture.h"

namespace {

class pgs_recordset_live : public pgs_live_suite {
protected:
    std::unique_ptr<udb_recordset> create(const std::wstring& table, const std::vector<test_column>& cols,
                                          udb_indexes indexes = udb_indexes())
    {
        udb_schema s = make_schema(cols);
        return db().create_table1(table, s, indexes);
    }
};

// --- values arrive intact, by COPY and by INSERT --------------------------

struct value_case {
    const char* what;
    test_column column;
    ole_variant value;
    const char* expected;  // the column read back as text; "<null>" for NULL
};
std::ostream& operator<<(std::ostream& os, const value_case& c) { return os << c.what; }

ole_variant date(const char* text) { return ole_variant(ole_date(text)); }
ole_variant bytes(std::initializer_list<std::uint8_t> b) { return ole_variant(std::vector<std::uint8_t>(b)); }

const value_case value_cases[] = {
    {"tab backslash CR LF", {L"v", VT_BSTR}, ole_variant(L"a\tb\\c\r\nd"), "a\tb\\c\r\nd"},
    {"apostrophes and quotes", {L"v", VT_BSTR}, ole_variant(L"O'Hara \"x\""), "O'Hara \"x\""},
    {"empty text is not NULL", {L"v", VT_BSTR}, ole_variant(L""), ""},
    {"NULL text", {L"v", VT_BSTR}, [] { ole_variant v; v.src.vt = VT_NULL; return v; }(), "<null>"},
    {"unicode", {L"v", VT_BSTR}, ole_variant(L"\u00e9\u4e2d\U0001F600"), "\u00c3\u00a9"},
    {"bytea with zero bytes", {L"v", VT_BYTE_ARRAY}, bytes({0, 1, 0, 0xff}), "\\x000100ff"},
    {"empty bytea", {L"v", VT_BYTE_ARRAY}, bytes({}), "\\x"},
    {"boolean true", {L"v", VT_BOOL}, ole_variant(true), "true"},
    {"boolean false", {L"v", VT_BOOL}, ole_variant(false), "false"},
    {"zero date is NULL", {L"v", VT_DATE, 0, 0, 6}, date("0000-00-00 00:00:00"), "<null>"},
    {"microseconds", {L"v", VT_DATE, 0, 0, 6}, date("2024-01-02 03:04:05.123456"), "2024-01-02 03:04:05.123456"},
    {"date only", {L"v", VT_DATE, 0, 0, 0, 2}, date("2024-02-29"), "2024-02-29"},
    {"decimal 65,30", {L"v", VT_DECIMAL, 0, 65, 30},
     ole_variant::from_string("12345678901234567890123456789012345.123456789012345678901234567891", VT_DECIMAL),
     "12345678901234567890123456789012345.123456789012345678901234567891"},
    {"bigint unsigned max", {L"v", VT_UI8}, ole_variant(18446744073709551615ull), "18446744073709551615"},
    {"integer", {L"v", VT_I4}, ole_variant(-2147483647 - 1), "-2147483648"},
};

class value_round_trip : public pgs_recordset_live, public ::testing::WithParamInterface<value_case> {};

TEST_P(value_round_trip, by_copy_and_by_insert)
{
    const auto& c = GetParam();
    for (bool copy : {true, false}) {
        engine().fast_insert = copy;
        // One table per case and mode: the case's number is the test name's tail.
        const std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        const std::wstring table = std::wstring(L"vals_") + (copy ? L"copy_" : L"ins_") +
                                   tk_utf8_to_unicode(test.substr(test.rfind('/') + 1));
        auto rs = create(table, {{L"id", VT_I4}, c.column});
        udb_record r = make_record({{L"id", ole_variant(1)}, {L"v", c.value}});
        rs->append_record(r);
        finish_table(rs);
        std::string got = sql1("select v::text from " + tk_unicode_to_utf8(table));
        std::string want = c.expected;
        if (std::string(c.what) == "unicode") want = "\u00e9\u4e2d\U0001F600";
        EXPECT_EQ(got, want) << (copy ? "COPY" : "INSERT");
    }
}
INSTANTIATE_TEST_SUITE_P(pgs_recordset, value_round_trip, ::testing::ValuesIn(value_cases));

TEST_F(pgs_recordset_live, a_chosen_client_encoding_does_not_garble_live_text)
{
    db().query(L"set client_encoding to 'WIN1252'");
    EXPECT_EQ(sql1("show client_encoding"), "UTF8");
    for (bool copy : {true, false}) {
        engine().fast_insert = copy;
        const std::wstring table = copy ? L"enc_copy" : L"enc_ins";
        auto rs = create(table, {{L"v", VT_BSTR}});
        udb_record r = make_record({{L"v", ole_variant(L"caf\u00e9 \u20ac")}});
        rs->append_record(r);
        finish_table(rs);
        EXPECT_EQ(sql1("select length(v) from " + tk_unicode_to_utf8(table)), "6");
    }
}

// --- a refused row in a COPY batch -------------------------------------------

// Both paths send rows in batches (one transaction each); a refused row in the
// middle of one is reported with its record number, every other row lands.
class refused_row_in_a_batch : public pgs_recordset_live, public ::testing::WithParamInterface<bool> {};

TEST_P(refused_row_in_a_batch, is_reported_alone_and_the_rest_is_stored)
{
    const bool copy = GetParam();
    engine().fast_insert = copy;
    udb_indexes idx;
    idx.push_back(udb_index(copy ? L"refused_copy_pk" : L"refused_ins_pk", true, true, {L"id"}));
    const std::string table = copy ? "refused_copy" : "refused_ins";
    auto rs = create(tk_utf8_to_unicode(table), {{L"id", VT_I4}, {L"name", VT_BSTR, 20}}, idx);
    auto* live = dynamic_cast<pgs_recordset*>(rs.get());
    ASSERT_NE(live, nullptr);
    sql("alter table " + table + " add constraint good_name check (name <> 'bad')");
    std::vector<pgs_rejected_row> reports;
    int throws = 0;
    const int batch = int(copy ? pgs_recordset::copy_batch_rows : pgs_recordset::insert_batch_rows);
    const int first_bad = batch * 3 / 2, second_bad = batch * 22 / 10, last = batch * 5 / 2;
    for (int i = 1; i <= last; ++i) {
        // The row in the middle of the second batch breaks the check (COPY: it
        // also repeats the key of record 10, which INSERT keeps silently); one
        // in the last batch too, reported by flush_rows.
        const bool bad = i == first_bad || i == second_bad;
        udb_record r = make_record({{L"id", ole_variant(i == first_bad && copy ? 10 : i)},
                                    {L"name", ole_variant(bad ? L"bad" : L"n")}});
        try {
            rs->append_record(r);
        } catch (const pgs_rows_rejected_exception& e) {
            ++throws;
            reports.insert(reports.end(), e.rows().begin(), e.rows().end());
            EXPECT_NE(std::string(e.what()).find("Record #" + std::to_string(first_bad)), std::string::npos)
                << e.what();
        }
    }
    try {
        live->flush_rows();
    } catch (const pgs_rows_rejected_exception& e) {
        reports.insert(reports.end(), e.rows().begin(), e.rows().end());
    }
    finish_table(rs);
    EXPECT_EQ(throws, 1);
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0].record_number, std::uint64_t(first_bad));
    EXPECT_FALSE(reports[0].sqlstate.empty()) << reports[0].message;
    EXPECT_EQ(reports[1].record_number, std::uint64_t(second_bad));
    EXPECT_EQ(reports[1].sqlstate, "23514") << reports[1].message;
    EXPECT_EQ(sql1("select count(*) from " + table), std::to_string(last - 2));
    const std::string around = std::to_string(first_bad - 1) + ", " + std::to_string(first_bad + 1) + ", " +
                               std::to_string(second_bad - 1) + ", " + std::to_string(second_bad + 1) + ", " +
                               std::to_string(last);
    EXPECT_EQ(sql1("select count(*) from " + table + " where id in (" + around + ")"), "5");
}

INSTANTIATE_TEST_SUITE_P(pgs_recordset, refused_row_in_a_batch, ::testing::Values(true, false),
                         [](const auto& info) { return std::string(info.param ? "copy" : "insert"); });

TEST_F(pgs_recordset_live, a_refused_row_early_in_a_batch_sent_in_many_pieces)
{
    // Big rows: the batch goes to the server in many pieces after the server
    // has already met the refused row.
    udb_indexes idx;
    idx.push_back(udb_index(L"midway_pk", true, true, {L"id"}));
    auto rs = create(L"midway", {{L"id", VT_I4}, {L"body", VT_BSTR}}, idx);
    const std::wstring body(4000, L'z');
    std::vector<std::uint64_t> refused;
    for (int i = 1; i <= 2000; ++i) {
        udb_record r = make_record({{L"id", ole_variant(i == 3 ? 1 : i)}, {L"body", ole_variant(body)}});
        try {
            rs->append_record(r);
        } catch (const pgs_rows_rejected_exception& e) {
            for (const auto& row : e.rows()) refused.push_back(row.record_number);
        }
    }
    try {
        dynamic_cast<pgs_recordset&>(*rs).flush_rows();
    } catch (const pgs_rows_rejected_exception& e) {
        for (const auto& row : e.rows()) refused.push_back(row.record_number);
    }
    finish_table(rs);
    EXPECT_EQ(refused, std::vector<std::uint64_t>{3});
    EXPECT_EQ(sql1("select count(*) from midway"), "1999");
}

TEST_F(pgs_recordset_live, refused_rows_of_the_last_batch_are_reported_by_flush_rows)
{
    udb_indexes idx;
    idx.push_back(udb_index(L"refused2_pk", true, true, {L"id"}));
    auto rs = create(L"refused2", {{L"id", VT_I4}}, idx);
    for (int i : {1, 2, 1, 3, 2}) {
        udb_record r = make_record({{L"id", ole_variant(i)}});
        rs->append_record(r);
    }
    auto* live = dynamic_cast<pgs_recordset*>(rs.get());
    try {
        live->flush_rows();
        FAIL() << "no report";
    } catch (const pgs_rows_rejected_exception& e) {
        ASSERT_EQ(e.rows().size(), 2u);
        EXPECT_EQ(e.rows()[0].record_number, 3u);
        EXPECT_EQ(e.rows()[1].record_number, 5u);
    }
    // The writer goes on after the report.
    udb_record r = make_record({{L"id", ole_variant(4)}});
    rs->append_record(r);
    finish_table(rs);
    EXPECT_EQ(sql1("select string_agg(id::text, ',' order by id) from refused2"), "1,2,3,4");
}

TEST_F(pgs_recordset_live, a_row_refused_by_an_existing_tables_check_fails_alone)
{
    sql("create table checked (id integer primary key, label varchar(10) check (label <> 'bad'))");
    // Opened after the table exists, as a run over an existing destination does.
    pgs_database fresh(tk_utf8_to_unicode(s_db_name), L"", 0x28, false);
    for (bool copy : {false, true}) {
        engine().fast_insert = copy;
        sql("delete from checked");
        udb_schema cols = make_schema({{L"id", VT_I4}, {L"label", VT_BSTR, 10}});
        udb_indexes none;
        auto rs = fresh.create_table1(L"public.checked", cols, none);
        std::vector<std::string> errors;
        for (auto [id, label] : {std::pair{1, L"one"}, std::pair{2, L"bad"}, std::pair{3, L"three"}}) {
            udb_record r = make_record({{L"id", ole_variant(id)}, {L"label", ole_variant(label)}});
            try {
                rs->append_record(r);
            } catch (const pgs_exception& e) {
                errors.push_back(e.what());
            }
        }
        try {
            dynamic_cast<pgs_recordset&>(*rs).flush_rows();
        } catch (const pgs_exception& e) {
            errors.push_back(e.what());
        }
        finish_table(rs);
        ASSERT_EQ(errors.size(), 1u) << (copy ? "COPY" : "INSERT");
        EXPECT_NE(errors[0].find("check"), std::string::npos) << errors[0];
        EXPECT_EQ(sql1("select string_agg(id::text, ',' order by id) from checked"), "1,3");
    }
}

// --- values that do not fit their column ---------------------------------------

TEST_F(pgs_recordset_live, a_value_that_does_not_fit_fails_only_its_row)
{
    for (bool copy : {true, false}) {
        engine().fast_insert = copy;
        const std::wstring table = copy ? L"fit_copy" : L"fit_ins";
        auto rs = create(table, {{L"id", VT_I4}, {L"small", VT_I2}, {L"code", VT_BSTR, 3}, {L"amount", VT_DECIMAL, 0, 5, 2}});
        struct row {
            int id;
            ole_variant small, code, amount;
            const char* named;  // nullptr: the row fits
        };
        const row rows[] = {
            {1, ole_variant(short(1)), ole_variant(L"abc"), ole_variant::from_string("999.99", VT_DECIMAL), nullptr},
            {2, ole_variant(70000), ole_variant(L"abc"), ole_variant::from_string("1", VT_DECIMAL), "70000"},
            {3, ole_variant(1), ole_variant(L"abcd"), ole_variant::from_string("1", VT_DECIMAL), "abcd"},
            {4, ole_variant(1), ole_variant(L"a"), ole_variant::from_string("1000.5", VT_DECIMAL), "1000.5"},
            {5, ole_variant(-32768), ole_variant(L"\u00e9\u00e9\u00e9"), ole_variant::from_string("-0.5", VT_DECIMAL), nullptr},
            {6, ole_variant(1), ole_variant(12345), ole_variant::from_string("1", VT_DECIMAL), "12345"},
            {7, ole_variant(1), ole_variant(123), ole_variant::from_string("1", VT_DECIMAL), nullptr},
        };
        for (const auto& x : rows) {
            udb_record r = make_record({{L"id", ole_variant(x.id)}, {L"small", x.small}, {L"code", x.code}, {L"amount", x.amount}});
            if (x.named) {
                try {
                    rs->append_record(r);
                    ADD_FAILURE() << "row " << x.id << " accepted";
                } catch (const pgs_exception& e) {
                    EXPECT_NE(std::string(e.what()).find(x.named), std::string::npos) << e.what();
                }
            } else {
                EXPECT_NO_THROW(rs->append_record(r)) << x.id;
            }
        }
        finish_table(rs);
        EXPECT_EQ(sql1("select string_agg(id::text, ',' order by id) from " + tk_unicode_to_utf8(table)), "1,5,7")
            << (copy ? "COPY" : "INSERT");
    }
}

// --- the switch to INSERT for a big row ------------------------------------------

TEST_F(pgs_recordset_live, rows_of_any_size_stay_in_the_copy_stream)
{
    // Large rows share batches with small ones; a value larger than a piece
    // of the stream arrives whole, and the one after it too.
    auto rs = create(L"big", {{L"id", VT_I4}, {L"body", VT_BSTR}});
    auto& live = dynamic_cast<pgs_recordset&>(*rs);
    const std::vector<std::size_t> sizes = {1, 1000000, 1000001, 3 * 1024 * 1024 + 7, 1};
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        std::wstring body(sizes[i], L'c');
        body[sizes[i] / 2] = L'\t';  // escaped in the line
        udb_record r = make_record({{L"id", ole_variant(int(i + 1))}, {L"body", ole_variant(body)}});
        rs->append_record(r);
    }
    EXPECT_EQ(live.get_copy_count(), 5);
    EXPECT_TRUE(engine().fast_insert);
    finish_table(rs);
    EXPECT_EQ(sql1("select string_agg(id::text || ':' || length(body) || ':' || strpos(body, E'\\t'), ',' order by id) from big"),
              "1:1:1,2:1000000:500001,3:1000001:500001,4:3145735:1572868,5:1:1");
}

// Texts as the MySQL side reads them (kept as UTF-8), large enough to be handed over to a COPY
// batch rather than copied, several to a batch and first in their lines, among small rows, with
// a row the server refuses: the batch is replayed in pieces, and every other row arrives as it
// was, by COPY as by INSERT.
TEST_F(pgs_recordset_live, large_texts_and_byte_arrays_arrive_whole_among_small_rows_and_refused_ones)
{
    // Every byte value, a large array in the rows whose text is small and the other way round.
    const auto bytes = [](int id) {
        std::vector<std::uint8_t> b(id % 2 ? 70000 : 3);
        for (std::size_t i = 0; i < b.size(); ++i) b[i] = std::uint8_t(i * 13 + std::size_t(id));
        return b;
    };
    const auto hex = [&](int id) {
        std::string h;
        for (std::uint8_t c : bytes(id)) h += "0123456789abcdef"[c >> 4], h += "0123456789abcdef"[c & 15];
        return h;
    };
    const auto text = [](int id) {
        std::string s;
        if (id % 2) return "small " + std::to_string(id) + "\t\\";
        for (int k = 0; s.size() < 100000; ++k) s += k % 97 ? "Zo\xc3\xab " + std::to_string(id) + " " : "\t\\\r\n";
        return s;
    };
    for (const bool copy : {true, false}) {
        SCOPED_TRACE(copy ? "COPY" : "INSERT");
        engine().fast_insert = copy;
        const std::string table = copy ? "handed_copy" : "handed_ins";
        auto rs = create(tk_utf8_to_unicode(table),
                         {{L"body", VT_BSTR}, {L"id", VT_I4}, {L"note", VT_BSTR}, {L"bin", VT_BYTE_ARRAY}});
        sql("alter table " + table + " add constraint good_note check (note <> 'bad')");
        std::vector<std::uint64_t> refused;
        const auto reported = [&](const pgs_rows_rejected_exception& e) {
            for (const auto& row : e.rows()) refused.push_back(row.record_number);
        };
        for (int id = 1; id <= 12; ++id) {
            udb_record r = make_record({{L"body", ole_variant()}, {L"id", ole_variant(id)},
                                        {L"note", ole_variant(std::string(id == 6 || id == 9 ? "bad" : "ok"))},
                                        {L"bin", ole_variant()}});
            r[0].attach_string(text(id));
            r[3].attach_binary(bytes(id));  // as the reader fills a field
            try {
                rs->append_record(r);
            } catch (const pgs_rows_rejected_exception& e) {
                reported(e);
            }
        }
        try {
            dynamic_cast<pgs_recordset&>(*rs).flush_rows();
        } catch (const pgs_rows_rejected_exception& e) {
            reported(e);
        }
        finish_table(rs);
        EXPECT_EQ(refused, (std::vector<std::uint64_t>{6, 9}));
        EXPECT_EQ(sql1("select count(*) from " + table), "10");
        for (int id = 1; id <= 12; ++id) {
            if (id == 6 || id == 9) continue;
            EXPECT_EQ(sql1("select count(*) from " + table + " where id = " + std::to_string(id) +
                           " and note = 'ok' and body = " + pgs_quote_literal(std::string_view(text(id))) +
                           " and bin = decode('" + hex(id) + "', 'hex')"),
                      "1")
                << id;
        }
    }
}

// --- the sequence of an auto-increment column ----------------------------------------

TEST_F(pgs_recordset_live, the_sequence_continues_after_the_highest_value)
{
    for (bool copy : {true, false}) {
        engine().fast_insert = copy;
        const std::string table = copy ? "Serial_Copy" : "Serial_Ins";
        auto rs = create(tk_utf8_to_unicode(table), {{L"id", VT_I4, 0, 0, 0, 0, true}, {L"name", VT_BSTR, 10}});
        for (int i : {5, 41, 7}) {
            udb_record r = make_record({{L"id", ole_variant(i)}, {L"name", ole_variant(L"n")}});
            rs->append_record(r);
        }
        finish_table(rs);
        const std::string lower = tk_to_lower(table);
        EXPECT_EQ(sql1("insert into " + lower + "(name) values ('new') returning id"), "42");
    }
}

TEST_F(pgs_recordset_live, case_sensitive_names_keep_their_case_through_copy_and_sequence)
{
    engine().is_case_sens = true;
    db().create_schema(L"CaseS");
    auto rs = create(L"CaseS.Ord\"ers", {{L"Id", VT_I4, 0, 0, 0, 0, true}, {L"Name", VT_BSTR, 10}});
    for (int i : {3, 9}) {
        udb_record r = make_record({{L"Id", ole_variant(i)}, {L"Name", ole_variant(L"n")}});
        rs->append_record(r);
    }
    finish_table(rs);
    engine().is_case_sens = false;
    EXPECT_EQ(sql1("select count(*) from \"CaseS\".\"Ord\"\"ers\""), "2");
    EXPECT_EQ(sql1("insert into \"CaseS\".\"Ord\"\"ers\"(\"Name\") values ('x') returning \"Id\""), "10");
}

// A source whose counter stood past its rows (a seed) keeps it: the sequence is never set
// below where it stands, neither for a run that writes no rows (definitions only) nor for
// rows whose highest value is lower; rows above it move it on.
TEST_F(pgs_recordset_live, the_sequence_never_falls_below_the_seed)
{
    struct seed_case {
        const char* table;
        std::vector<int> ids;
        const char* next;
    };
    const std::vector<seed_case> cases = {
        {"seed_no_rows", {}, "100"}, {"seed_lower_rows", {2, 5}, "100"}, {"seed_higher_rows", {500, 7}, "501"}};
    for (bool copy : {true, false}) {
        engine().fast_insert = copy;
        for (const auto& c : cases) {
            const std::string table = std::string(c.table) + (copy ? "_copy" : "_ins");
            udb_schema s = make_schema({{L"id", VT_I4, 0, 0, 0, 0, true}, {L"name", VT_BSTR, 10}});
            s.seed = 99;
            udb_indexes none;
            auto rs = db().create_table1(tk_utf8_to_unicode(table), s, none);
            for (int i : c.ids) {
                udb_record r = make_record({{L"id", ole_variant(i)}, {L"name", ole_variant(L"n")}});
                rs->append_record(r);
            }
            finish_table(rs);
            EXPECT_EQ(sql1("insert into " + table + "(name) values ('new') returning id"), c.next) << table;
        }
    }
}

// PostgreSQL text cannot hold U+0000: the row fails before any of it is sent, with the column
// named, instead of arriving with its text cut at the zero; the rows around it are stored.
TEST_F(pgs_recordset_live, a_text_with_a_zero_character_fails_its_row_alone)
{
    for (bool copy : {true, false}) {
        engine().fast_insert = copy;
        const std::wstring table = copy ? L"zero_copy" : L"zero_ins";
        auto rs = create(table, {{L"id", VT_I4}, {L"body", VT_BSTR}, {L"data", VT_ARRAY | VT_UI1}});
        const std::vector<std::pair<int, ole_variant>> rows = {
            {1, ole_variant(L"it's")}, {2, ole_variant(std::wstring(L"it's\0zero", 9))},
            {3, ole_variant(std::wstring(1, L'\0'))}, {4, ole_variant(L"after")}};
        std::vector<std::string> errors;
        for (const auto& [id, body] : rows) {
            udb_record r = make_record({{L"id", ole_variant(id)}, {L"body", body},
                                        {L"data", ole_variant(std::vector<std::uint8_t>{0x61, 0, 0x62})}});
            try {
                rs->append_record(r);
            } catch (const pgs_exception& e) {
                EXPECT_EQ(e.get_level(), 0);
                errors.push_back(e.what());
            }
        }
        EXPECT_NO_THROW(dynamic_cast<pgs_recordset&>(*rs).flush_rows());
        finish_table(rs);
        const std::string message = "Column \"body\" contains a zero character, which PostgreSQL text cannot hold";
        EXPECT_EQ(errors, (std::vector<std::string>{message, message})) << (copy ? "COPY" : "INSERT");
        // Binary data keeps its zero bytes.
        EXPECT_EQ(sql1("select string_agg(id || '|' || body || '|' || encode(data, 'hex'), ',' order by id) from " +
                       tk_unicode_to_utf8(table)),
                  "1|it's|610062,4|after|610062");
    }
}

// Letting a recordset go sends nothing, where a failure could not be reported: rows never
// stored are dropped as an uncommitted transaction is, and the sequence stays where it was.
TEST_F(pgs_recordset_live, letting_go_without_finishing_stores_nothing_and_sets_no_sequence)
{
    for (bool copy : {true, false}) {
        engine().fast_insert = copy;
        const std::string table = copy ? "unfinished_copy" : "unfinished_ins";
        auto rs = create(tk_utf8_to_unicode(table), {{L"id", VT_I4, 0, 0, 0, 0, true}});
        for (int i : {5, 6}) {
            udb_record r = make_record({{L"id", ole_variant(i)}});
            rs->append_record(r);
        }
        rs.reset();
        EXPECT_EQ(sql1("select count(*) from " + table), "0") << table;
        EXPECT_EQ(sql1("insert into " + table + " default values returning id"), "1") << table;
    }
}

TEST_F(pgs_recordset_live, an_empty_serial_table_starts_at_one)
{
    auto rs = create(L"serial_empty", {{L"id", VT_I4, 0, 0, 0, 0, true}, {L"name", VT_BSTR, 10}});
    finish_table(rs);
    EXPECT_EQ(sql1("insert into serial_empty(name) values ('new') returning id"), "1");
}

// --- record fields matched to columns -------------------------------------------------

TEST_F(pgs_recordset_live, fields_are_matched_by_name_ignoring_case_and_order)
{
    for (bool copy : {true, false}) {
        engine().fast_insert = copy;
        const std::wstring table = copy ? L"match_copy" : L"match_ins";
        auto rs = create(table, {{L"orderid", VT_I4}, {L"note", VT_BSTR, 10}, {L"Order/Date", VT_BSTR, 10}});
        // A field whose name the server cannot take unquoted is matched under its safe name.
        udb_record r = make_record({{L"NOTE", ole_variant(L"hi")}, {L"ORDERID", ole_variant(7)},
                                    {L"Order/Date", ole_variant(L"d")}});
        rs->append_record(r);
        udb_record missing = make_record({{L"orderid", ole_variant(8)}});
        EXPECT_THROW(rs->append_record(missing), tk_exception);
        finish_table(rs);
        EXPECT_EQ(sql1("select orderid || note || order_date from " + tk_unicode_to_utf8(table)), "7hid");
    }
}

// --- reading the table back -----------------------------------------------------------

TEST_F(pgs_recordset_live, a_table_reads_back_with_its_keys_indexes_and_rows)
{
    udb_indexes idx;
    idx.push_back(udb_index(L"rb_pk", true, true, {L"id"}));
    idx.push_back(udb_index(L"rb_code", true, false, {L"code"}));
    idx.push_back(udb_index(L"rb_name", false, false, {L"name", L"code"}));
    {
        auto rs = create(L"readback", {{L"id", VT_I4}, {L"code", VT_BSTR, 8}, {L"name", VT_BSTR}, {L"flag", VT_BOOL},
                                       {L"at", VT_DATE, 0, 0, 6}, {L"price", VT_DECIMAL, 0, 10, 2}}, idx);
        for (int i = 1; i <= 250; ++i) {
            udb_record r = make_record({{L"id", ole_variant(251 - i)}, {L"code", ole_variant(L"c" + std::to_wstring(i))},
                                        {L"name", ole_variant(L"n\u00e9")}, {L"flag", ole_variant(i % 2 == 0)},
                                        {L"at", date("2024-05-06 07:08:09.000123")},
                                        {L"price", ole_variant::from_string("12.50", VT_DECIMAL)}});
            rs->append_record(r);
        }
        finish_table(rs);
    }
    auto rs = db().get_table(L"public.readback", 8);
    EXPECT_EQ(rs->get_record_count(), 250u);
    const auto& s = rs->get_schema();
    ASSERT_EQ(s.size(), 6u);
    EXPECT_EQ(s[0].name, L"id");
    EXPECT_TRUE(s[0].b_not_null);
    EXPECT_EQ(s[1].size, 8u);
    EXPECT_EQ(s[5].vartype, VT_DECIMAL);
    // The timestamp keeps its fractional digits, so a table made from this one keeps them too.
    EXPECT_EQ(s[4].vartype, VT_DATE);
    EXPECT_EQ(s[4].scale, 6);
    EXPECT_EQ(s[5].precision, 10);
    EXPECT_EQ(s[5].scale, 2);
    ASSERT_GE(rs->get_key_pos(), 0);
    EXPECT_TRUE(rs->get_indexes()[std::size_t(rs->get_key_pos())].primary);
    EXPECT_TRUE(rs->get_indexes().find2(L"rb_code"));
    ASSERT_TRUE(rs->get_indexes().find2(L"rb_name"));
    EXPECT_EQ(rs->get_indexes().get_index(L"rb_name").fields, (std::vector<std::wstring>{L"name", L"code"}));

    rs->reset();
    int n = 0, last_id = 0;
    while (!rs->is_eof()) {
        udb_record* r = rs->get_item();
        ASSERT_NE(r, nullptr);
        const int id = (*r)[0].to_long();
        EXPECT_GT(id, last_id);  // ordered by the primary key
        last_id = id;
        EXPECT_EQ((*r)[2].to_wstring(), L"n\u00e9");
        EXPECT_EQ((*r)[3].get_type(), VT_BOOL);
        EXPECT_EQ((*r)[4].to_wstring().substr(0, 19), L"2024-05-06 07:08:09");
        ++n;
        rs->next();
    }
    EXPECT_EQ(n, 250);
}

TEST_F(pgs_recordset_live, foreign_keys_are_read_into_the_databases_list)
{
    sql("create schema fk_s; create table fk_s.parent (a int, b int, primary key (b, a)); "
        "create table fk_s.child (x int, pa int, pb int, constraint child_fk foreign key (pb, pa) "
        "references fk_s.parent (b, a) on delete cascade); "
        "create table public.child (x int)");
    auto fresh = std::make_unique<pgs_database>(tk_utf8_to_unicode(s_db_name), L"", 2, false);
    auto rs = fresh->get_table(L"fk_s.child", 8);
    auto& keys = fresh->get_relationships();
    ASSERT_EQ(keys.size(), 1u);
    EXPECT_EQ(keys[0].name, L"child_fk");
    EXPECT_EQ(keys[0].table, L"fk_s.child");
    EXPECT_EQ(keys[0].ref_table, L"fk_s.parent");
    EXPECT_EQ(keys[0].fk_flds, (std::vector<std::wstring>{L"pb", L"pa"}));
    EXPECT_EQ(keys[0].pk_flds, (std::vector<std::wstring>{L"b", L"a"}));
    EXPECT_EQ(keys[0].rule, L"ON DELETE CASCADE ");
    // The table of the same name in another schema has no key.
    auto other = fresh->get_table(L"public.child", 8);
    EXPECT_EQ(keys.size(), 1u);
    EXPECT_EQ(other->get_indexes().size(), 0u);
    // Mode 0x20 of the database: no foreign keys read.
    auto no_fk = std::make_unique<pgs_database>(tk_utf8_to_unicode(s_db_name), L"", 0x20, false);
    no_fk->get_table(L"fk_s.child", 8);
    EXPECT_TRUE(no_fk->get_relationships().empty());
}

TEST_F(pgs_recordset_live, awkward_values_read_back_through_the_cursor)
{
    {
        auto rs = create(L"awkward", {{L"id", VT_I4}, {L"t", VT_BSTR}, {L"b", VT_BYTE_ARRAY}});
        udb_record r1 = make_record({{L"id", ole_variant(1)}, {L"t", ole_variant(L"a\r\nb\t'\\")}, {L"b", bytes({0, 0, 7})}});
        udb_record r2 = make_record({{L"id", ole_variant(2)}, {L"t", ole_variant(L"")}, {L"b", ole_variant()}});
        rs->append_record(r1);
        rs->append_record(r2);
        finish_table(rs);
    }
    auto rs = db().get_table(L"public.awkward", 8);
    rs->reset();
    udb_record* r = rs->get_item();
    ASSERT_NE(r, nullptr);
    EXPECT_EQ((*r)[1].to_wstring(), L"a\r\nb\t'\\");
    EXPECT_EQ((*r)[2].get_byte_vector(), (std::vector<std::uint8_t>{0, 0, 7}));
    rs->next();
    r = rs->get_item();
    ASSERT_NE(r, nullptr);
    EXPECT_EQ((*r)[1].get_type(), VT_BSTR);  // empty text, not NULL
    EXPECT_EQ((*r)[2].get_type(), VT_EMPTY);
    rs->next();
    EXPECT_TRUE(rs->is_eof());
}

TEST_F(pgs_recordset_live, a_query_recordset_reads_its_columns_and_rows)
{
    auto rs = db().get_query(L"q", L"select 1::int as a, 'x'::text as b union all select 2, null", 0);
    EXPECT_EQ(rs->get_record_count(), 2u);
    ASSERT_EQ(rs->get_schema().size(), 2u);
    EXPECT_EQ(rs->get_schema()[0].vartype, VT_I4);
    rs->reset();
    ASSERT_FALSE(rs->is_eof());
    EXPECT_EQ((*rs->get_item())[1].to_wstring(), L"x");
    rs->next();
    EXPECT_EQ((*rs->get_item())[1].get_type(), VT_EMPTY);
    rs->next();
    EXPECT_TRUE(rs->is_eof());
}

// --- keyed updates and deletes ------------------------------------------------------------

TEST_F(pgs_recordset_live, update1_changes_the_row_with_the_records_key)
{
    udb_indexes idx;
    idx.push_back(udb_index(L"upd_pk", true, true, {L"id"}));
    {
        auto rs = create(L"upd", {{L"id", VT_I4}, {L"name", VT_BSTR, 20}, {L"qty", VT_I4}}, idx);
        udb_record r = make_record({{L"id", ole_variant(5)}, {L"name", ole_variant(L"old")}, {L"qty", ole_variant(1)}});
        rs->append_record(r);
        finish_table(rs);
    }
    auto rs = db().get_table(L"public.upd", 8);
    udb_record r = make_record({{L"ID", ole_variant(5)}, {L"name", ole_variant(L"it's new")}, {L"qty", ole_variant(9)}});
    rs->update1(r);
    EXPECT_EQ(sql1("select name || '/' || qty from upd where id = 5"), "it's new/9");

    // Without a key field nothing is sent.
    udb_record nokey = make_record({{L"name", ole_variant(L"x")}});
    rs->update1(nokey);
    EXPECT_EQ(sql1("select name from upd"), "it's new");
}

TEST_F(pgs_recordset_live, update1_without_a_key_index_does_nothing)
{
    {
        auto rs = create(L"nokey", {{L"id", VT_I4}, {L"name", VT_BSTR, 20}});
        udb_record r = make_record({{L"id", ole_variant(1)}, {L"name", ole_variant(L"a")}});
        rs->append_record(r);
        finish_table(rs);
    }
    auto rs = db().get_table(L"public.nokey", 8);
    udb_record r = make_record({{L"id", ole_variant(1)}, {L"name", ole_variant(L"b")}});
    EXPECT_NO_THROW(rs->update1(r));
    EXPECT_EQ(sql1("select name from nokey"), "a");
}

TEST_F(pgs_recordset_live, keyed_filter_update2_and_deletes)
{
    udb_indexes idx;
    idx.push_back(udb_index(L"kd_pk", true, true, {L"id", L"code"}));
    {
        auto rs = create(L"kd", {{L"id", VT_I4}, {L"code", VT_BSTR, 20}, {L"bin", VT_BYTE_ARRAY}, {L"v", VT_I4}}, idx);
        for (int i = 1; i <= 3; ++i) {
            udb_record r = make_record({{L"id", ole_variant(i)}, {L"code", ole_variant(i == 2 ? L"A&B'" : L"x")},
                                        {L"bin", bytes({0, 0xab})}, {L"v", ole_variant(0)}});
            rs->append_record(r);
        }
        finish_table(rs);
    }
    auto rs = db().get_table(L"public.kd", 8);
    EXPECT_EQ(rs->get_filter_subquery(L"<id>5</id><code>A&amp;B</code>"), L"\"id\"='5'  and \"code\"='A&B' ");
    EXPECT_THROW(rs->get_filter_subquery(L"<nope>1</nope>"), tk_exception);

    // An apostrophe in the key value is a value, not SQL.
    udb_record upd = make_record({{L"v", ole_variant(7)}});
    rs->update2(upd, L"<id>2</id><code>A&amp;B'</code>");
    EXPECT_EQ(sql1("select v from kd where id = 2"), "7");

    rs->delete_key(L"<bin>0x00AB</bin><id>1</id>");
    EXPECT_EQ(sql1("select count(*) from kd where id = 1"), "0");

    udb_record del = make_record({{L"ID", ole_variant(3)}, {L"code", ole_variant(L"x")}});
    rs->delete_key(del);
    EXPECT_EQ(sql1("select string_agg(id::text, ',') from kd"), "2");

    EXPECT_THROW(rs->delete_key(L""), pgs_exception);
}

}  // namespace

namespace {

// Its own suite: the test ends the server side of the suite's connection.
// --- a row whose key exists: kept, or replaced in the same statement --------

struct key_conflict_case {
    const char* name;
    const char* table;  // created with the row (1, 'old', 100) in it
    pgs_key_conflict form;
    const char* expected;  // the rows afterwards, "id|name|qty" joined by ','
};
std::ostream& operator<<(std::ostream& os, const key_conflict_case& c) { return os << c.name; }

class key_conflict_test : public pgs_recordset_live, public ::testing::WithParamInterface<key_conflict_case> {};

TEST_P(key_conflict_test, insert_statements_keep_or_replace_the_existing_row)
{
    const key_conflict_case& c = GetParam();
    sql(std::string("drop table if exists kc; create table kc ") + c.table + "; insert into kc values (1, 'old', 100)");
    engine().fast_insert = false;
    // Opened after the table exists, as a run over an existing destination does.
    pgs_database fresh(tk_utf8_to_unicode(s_db_name), L"", 0x28, false);
    auto rs = fresh.get_table(L"public.kc", 8);
    dynamic_cast<pgs_recordset&>(*rs).set_key_conflict(c.form);
    for (auto [id, name, qty] : {std::tuple{1, L"new", 1}, std::tuple{2, L"two", 2}, std::tuple{1, L"newer", 1}}) {
        udb_record r = make_record({{L"id", ole_variant(id)}, {L"name", ole_variant(name)}, {L"qty", ole_variant(qty)}});
        rs->append_record(r);
    }
    finish_table(rs);
    EXPECT_EQ(sql1("select string_agg(id || '|' || name || '|' || qty, ',' order by id, qty, name) from kc"), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    pgs_recordset, key_conflict_test,
    ::testing::Values(
        key_conflict_case{"skip_keeps", "(id integer primary key, name text, qty integer)", pgs_key_conflict::skip,
                          "1|old|100,2|two|2"},
        key_conflict_case{"replace_by_primary_key", "(id integer primary key, name text, qty integer)",
                          pgs_key_conflict::replace, "1|newer|1,2|two|2"},
        key_conflict_case{"replace_by_unique_index", "(id integer unique, name text, qty integer)",
                          pgs_key_conflict::replace, "1|newer|1,2|two|2"},
        key_conflict_case{"replace_by_a_key_of_two_columns",
                          "(id integer, name text, qty integer, primary key (qty, id))", pgs_key_conflict::replace,
                          "1|newer|1,1|old|100,2|two|2"},
        key_conflict_case{"replace_without_a_key_adds", "(id integer, name text, qty integer)",
                          pgs_key_conflict::replace, "1|new|1,1|newer|1,1|old|100,2|two|2"},
        key_conflict_case{"replace_where_every_column_is_key",
                          "(id integer, name text, qty integer, primary key (id, name, qty))",
                          pgs_key_conflict::replace, "1|new|1,1|newer|1,1|old|100,2|two|2"},
        // The server cannot match the key's plain columns to an index over an expression.
        key_conflict_case{"replace_by_an_unusable_key_adds",
                          "(id integer, name text, qty integer); create unique index kc_u on kc (id, lower(name))",
                          pgs_key_conflict::replace, "1|new|1,1|newer|1,1|old|100,2|two|2"},
        key_conflict_case{"skip_by_an_unusable_key_adds",
                          "(id integer, name text, qty integer); create unique index kc_u on kc (id, lower(name))",
                          pgs_key_conflict::skip, "1|new|1,1|newer|1,1|old|100,2|two|2"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(pgs_recordset_live, keeping_rows_by_key_refuses_a_row_that_collides_with_another_unique_index)
{
    sql("create table keep_uq (id integer primary key, code text unique); insert into keep_uq values (1, 'a')");
    engine().fast_insert = false;
    pgs_database fresh(tk_utf8_to_unicode(s_db_name), L"", 0x28, false);
    auto rs = fresh.get_table(L"public.keep_uq", 8);
    auto& live = dynamic_cast<pgs_recordset&>(*rs);
    live.set_key_conflict(pgs_key_conflict::skip);
    // Its key exists: kept without a word. A new key whose code exists: refused. A new row: stored.
    for (auto [id, code] : {std::pair{1, L"z"}, std::pair{2, L"a"}, std::pair{3, L"c"}}) {
        udb_record r = make_record({{L"id", ole_variant(id)}, {L"code", ole_variant(code)}});
        rs->append_record(r);
    }
    std::vector<pgs_rejected_row> refused;
    try {
        live.flush_rows();
    } catch (const pgs_rows_rejected_exception& e) {
        refused = e.rows();
    }
    ASSERT_EQ(refused.size(), 1u);
    EXPECT_EQ(refused[0].record_number, 2u);
    EXPECT_EQ(refused[0].sqlstate, pgs_sqlstate_unique_violation) << refused[0].message;
    finish_table(rs);
    EXPECT_EQ(sql1("select string_agg(id || '|' || code, ',' order by id) from keep_uq"), "1|a,3|c");
}

TEST_F(pgs_recordset_live, a_refused_row_carries_the_servers_sqlstate)
{
    sql("create table states (id integer primary key, code text unique, qty integer check (qty >= 0));"
        "insert into states values (1, 'a', 1)");
    auto row = [](int id, const wchar_t* code, int qty) {
        return make_record({{L"id", ole_variant(id)}, {L"code", ole_variant(code)}, {L"qty", ole_variant(qty)}});
    };
    pgs_database fresh(tk_utf8_to_unicode(s_db_name), L"", 0x28, false);
    auto rs = fresh.get_table(L"public.states", 8);
    auto& live = dynamic_cast<pgs_recordset&>(*rs);

    // INSERT: a check, and (replacing by the primary key) another unique index.
    engine().fast_insert = false;
    live.set_key_conflict(pgs_key_conflict::replace);
    std::vector<pgs_rejected_row> by_insert;
    for (udb_record r : {row(2, L"b", -1), row(3, L"a", 1)})
        EXPECT_NO_THROW(rs->append_record(r));
    try {
        live.flush_rows();
    } catch (const pgs_rows_rejected_exception& e) {
        by_insert = e.rows();
    }
    ASSERT_EQ(by_insert.size(), 2u);
    EXPECT_EQ(by_insert[0].sqlstate, "23514") << by_insert[0].message;
    EXPECT_EQ(by_insert[1].sqlstate, pgs_sqlstate_unique_violation) << by_insert[1].message;

    // COPY: the refused rows of a batch, each with its own.
    engine().fast_insert = true;
    std::vector<pgs_rejected_row> refused;
    for (udb_record r : {row(4, L"d", 4), row(1, L"z", 1), row(5, L"e", -5), row(6, L"f", 6)}) {
        try {
            rs->append_record(r);
        } catch (const pgs_rows_rejected_exception& e) {
            refused.insert(refused.end(), e.rows().begin(), e.rows().end());
        }
    }
    try {
        live.flush_rows();
    } catch (const pgs_rows_rejected_exception& e) {
        refused.insert(refused.end(), e.rows().begin(), e.rows().end());
    }
    ASSERT_EQ(refused.size(), 2u);
    EXPECT_EQ(refused[0].sqlstate, pgs_sqlstate_unique_violation) << refused[0].message;
    EXPECT_EQ(refused[1].sqlstate, "23514") << refused[1].message;
    finish_table(rs);
    EXPECT_EQ(sql1("select string_agg(id::text, ',' order by id) from states"), "1,4,6");
}

// --- a client encoding other than UTF8 -----------------------------------------

TEST_F(pgs_recordset_live, a_row_the_chosen_encoding_cannot_hold_fails_alone_and_sends_nothing)
{
    for (bool copy : {true, false}) {
        engine().fast_insert = copy;
        const std::wstring table = copy ? L"latin_copy" : L"latin_ins";
        auto rs = create(table, {{L"id", VT_I4}, {L"name", VT_BSTR, 20}});
        dynamic_cast<pgs_recordset&>(*rs).set_client_encoding(L"LATIN1");
        std::vector<std::string> errors;
        for (auto [id, name] : {std::pair{1, L"Zo\u00eb"}, std::pair{2, L"5 \u20ac"}, std::pair{3, L"Ann"},
                                std::pair{4, L"\U0001F600"}}) {
            udb_record r = make_record({{L"id", ole_variant(id)}, {L"name", ole_variant(name)}});
            try {
                rs->append_record(r);
            } catch (const pgs_exception& e) {
                errors.push_back(e.what());
            }
        }
        finish_table(rs);
        ASSERT_EQ(errors.size(), 2u);
        EXPECT_EQ(errors[0], "Column \"name\": character '\xe2\x82\xac' (U+20AC) cannot be represented in "
                             "encoding LATIN1");
        EXPECT_NE(errors[1].find("(U+1F600)"), std::string::npos) << errors[1];
        // The rows that fit arrive exact: the connection itself stays UTF-8.
        EXPECT_EQ(sql1("select string_agg(id || '|' || name, ',' order by id) from " + tk_unicode_to_utf8(table)),
                  "1|Zo\xc3\xab,3|Ann");
    }
}

class pgs_recordset_lost_connection : public pgs_live_suite {};

TEST_F(pgs_recordset_lost_connection, a_batch_on_a_broken_connection_is_a_loss_not_refused_rows)
{
    udb_schema s = make_schema({{L"id", VT_I4}});
    udb_indexes none;
    auto rs = db().create_table1(L"lost", s, none);
    for (int i = 1; i <= 5; ++i) {
        udb_record r = make_record({{L"id", ole_variant(i)}});
        rs->append_record(r);
    }
    {
        const int pid = engine().connection()->get().backendpid();
        pqxx::connection killer(test_env::pg_conninfo(s_db_name));
        pqxx::nontransaction tx(killer);
        tx.exec("select pg_terminate_backend(" + std::to_string(pid) + ")");
    }
    // The run's own connection is not opened again behind its back: the rows
    // are not stored, none of them is called refused, and the count says so.
    EXPECT_THROW(dynamic_cast<pgs_recordset&>(*rs).flush_rows(), pgs_connection_lost_exception);
    EXPECT_EQ(rs->get_record_count(), 0u);
    EXPECT_FALSE(engine().connection()->get().is_open());
    EXPECT_NO_FATAL_FAILURE(rs.reset());
}

}  // namespace
