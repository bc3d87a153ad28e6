// The quoting unit: hostile texts keep statements and COPY lines intact and arrive unchanged.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// pqxx::tablewriter is deprecated in libpqxx 6.4 but is the raw-line COPY writer under test.
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <pqxx/pqxx>
#include <pqxx/tablewriter>

#include "pg_target/pgs_quote.h"
#include "support/test_env.h"

namespace {

struct text_case {
    const char* name;
    std::string text;
    std::string identifier;
    std::string literal;
    std::string copy;
};

std::ostream& operator<<(std::ostream& os, const text_case& c) { return os << c.name; }

class quote_forms : public ::testing::TestWithParam<text_case> {};

TEST_P(quote_forms, narrow_and_wide_give_the_same_bytes)
{
    const auto& c = GetParam();
    EXPECT_EQ(pgs_quote_identifier(std::string_view(c.text)), c.identifier);
    EXPECT_EQ(pgs_quote_literal(std::string_view(c.text)), c.literal);
    std::string copy;
    pgs_append_copy_text(copy, std::string_view(c.text));
    EXPECT_EQ(copy, c.copy);
    // Escaped where the text stands, with room for the escapes and without.
    for (const bool room : {true, false}) {
        std::string text;
        if (room) text.reserve(c.copy.size());
        text = c.text;
        pgs_escape_copy_text(text);
        EXPECT_EQ(text, c.copy) << (room ? "with room" : "without room");
    }

    // The same ASCII text given as wide text encodes to the same bytes.
    std::wstring wide(c.text.begin(), c.text.end());
    std::string out;
    pgs_append_identifier(out, std::wstring_view(wide));
    EXPECT_EQ(out, c.identifier);
    out.clear();
    pgs_append_literal(out, std::wstring_view(wide));
    EXPECT_EQ(out, c.literal);
    out.clear();
    pgs_append_copy_text(out, std::wstring_view(wide));
    EXPECT_EQ(out, c.copy);
}

INSTANTIATE_TEST_SUITE_P(
    cases, quote_forms,
    ::testing::Values(
        text_case{"empty", "", "\"\"", "''", ""},
        text_case{"plain", "abc", "\"abc\"", "'abc'", "abc"},
        text_case{"double_quote", "a\"b", "\"a\"\"b\"", "'a\"b'", "a\"b"},
        text_case{"apostrophe", "O'Hara", "\"O'Hara\"", "'O''Hara'", "O'Hara"},
        text_case{"only_quotes", "''\"\"", "\"''\"\"\"\"\"", "'''''\"\"'", "''\"\""},
        text_case{"backslash", "a\\b", "\"a\\b\"", "'a\\b'", "a\\\\b"},
        text_case{"tab", "a\tb", "\"a\tb\"", "'a\tb'", "a\\tb"},
        text_case{"cr_lf", "a\r\nb", "\"a\r\nb\"", "'a\r\nb'", "a\\r\\nb"},
        text_case{"trailing_backslash", "x\\", "\"x\\\"", "'x\\'", "x\\\\"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(pgs_quote, wide_text_is_encoded_as_utf8)
{
    std::string out;
    pgs_append_literal(out, std::wstring_view(L"\u00e9\u20ac\U0001F600'"));
    EXPECT_EQ(out, "'\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80'''");
    // A lone surrogate cannot be encoded: it becomes U+FFFD rather than invalid UTF-8.
    out.clear();
    pgs_append_utf8(out, std::wstring(1, static_cast<wchar_t>(0xD800)));
    EXPECT_EQ(out, "\xEF\xBF\xBD");
    // A surrogate pair (text built from UTF-16 units) is joined into one code point.
    out.clear();
    pgs_append_utf8(out, std::wstring{static_cast<wchar_t>(0xD83D), static_cast<wchar_t>(0xDE00)});
    EXPECT_EQ(out, "\xF0\x9F\x98\x80");
    EXPECT_EQ(pgs_utf8_length(L"a\u00e9\u20ac\U0001F600"), 10u);
}

TEST(pgs_quote, bytea_and_null_forms)
{
    const std::uint8_t bytes[] = {0x00, 0x41, 0xFF, 0x5C};
    std::string out;
    pgs_append_copy_bytea(out, bytes, sizeof bytes);
    EXPECT_EQ(out, "\\\\x0041FF5C");
    // Made where the bytes stand, with room for the digits and without, every byte value at
    // every place (each byte moves to twice its place and more while the bytes before it wait).
    std::vector<std::uint8_t> all(1000);
    for (std::size_t i = 0; i < all.size(); ++i) all[i] = std::uint8_t(i * 7 + i / 256);
    for (const std::size_t size : {std::size_t(0), std::size_t(1), std::size_t(4), all.size()}) {
        for (const bool room : {true, false}) {
            std::vector<std::uint8_t> v;
            if (room) v.reserve(2 * size + 3);
            v.assign(all.begin(), all.begin() + std::ptrdiff_t(size));
            const std::uint8_t* held = v.data();
            std::string expected;
            pgs_append_copy_bytea(expected, all.data(), size);
            pgs_make_copy_bytea(v);
            EXPECT_EQ(std::string(v.begin(), v.end()), expected) << size << (room ? " with room" : "");
            if (room && size) EXPECT_EQ(v.data(), held) << size;  // not moved
        }
    }
    out.clear();
    pgs_append_bytea_literal(out, bytes, sizeof bytes);
    EXPECT_EQ(out, "DECODE('0041FF5C','hex')");
    out.clear();
    pgs_append_bytea_literal(out, bytes, 0);
    EXPECT_EQ(out, "DECODE('','hex')");
    out.clear();
    pgs_append_copy_null(out);
    EXPECT_EQ(out, "\\N");
}

TEST(pgs_quote, qualified_names_and_conninfo)
{
    EXPECT_EQ(pgs_quote_qualified_name(L"Sales", L"a\"b"), L"\"Sales\".\"a\"\"b\"");
    EXPECT_EQ(pgs_quote_qualified_name(L"", L"t"), L"\"t\"");
    EXPECT_EQ(pgs_quote_conninfo_value("p a'ss\\w$"), "'p a\\'ss\\\\w$'");
    EXPECT_EQ(pgs_quote_conninfo_value(""), "''");
}

TEST(pgs_quote, appending_keeps_what_the_buffer_held)
{
    std::string line = "1\t";
    pgs_append_copy_text(line, std::string_view("x\ty"));
    line += '\t';
    pgs_append_literal(line, std::string_view("z"));
    EXPECT_EQ(line, "1\tx\\ty\t'z'");
}

// Round trips through the server: what the quoting unit writes is read back exactly.
class pgs_quote_server : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        db_name_ = test_env::unique_name("qt_quote");
        pqxx::connection admin(test_env::pg_conninfo());
        pqxx::nontransaction tx(admin);
        tx.exec("CREATE DATABASE " + pgs_quote_identifier(std::string_view(db_name_)));
    }
    static void TearDownTestSuite()
    {
        pqxx::connection admin(test_env::pg_conninfo());
        pqxx::nontransaction tx(admin);
        tx.exec("DROP DATABASE IF EXISTS " + pgs_quote_identifier(std::string_view(db_name_)));
    }
    void SetUp() override
    {
        conn_ = std::make_unique<pqxx::connection>(test_env::pg_conninfo(db_name_));
        pqxx::nontransaction tx(*conn_);
        tx.exec("SET standard_conforming_strings = on");
    }
    static std::string db_name_;
    std::unique_ptr<pqxx::connection> conn_;
};
std::string pgs_quote_server::db_name_;

const std::vector<std::string> hostile_texts = {
    "", "plain", "O'Hara", "''", "a\"b", "\"", "back\\slash", "\\", "\\N", "tab\there",
    "cr\rlf\n", "\r\n\r\n", "--comment", "x'); DROP TABLE t; --", "\xC3\xA9t\xC3\xA9 \xE2\x82\xAC",
    "\\x41", "end\\"};

TEST_F(pgs_quote_server, literals_and_copy_fields_arrive_unchanged)
{
    pqxx::work tx(*conn_);
    tx.exec("CREATE TABLE t (id int, v text)");
    for (std::size_t i = 0; i < hostile_texts.size(); ++i) {
        std::string sql = "INSERT INTO t VALUES (" + std::to_string(i) + ", ";
        pgs_append_literal(sql, std::string_view(hostile_texts[i]));
        sql += ")";
        tx.exec(sql);
    }
    {
        pqxx::tablewriter w(tx, "t");
        std::string line;
        for (std::size_t i = 0; i < hostile_texts.size(); ++i) {
            line.clear();
            line += std::to_string(1000 + i);
            line += '\t';
            pgs_append_copy_text(line, std::string_view(hostile_texts[i]));
            w.write_raw_line(line);
        }
        line = "2000\t";
        pgs_append_copy_null(line);
        w.write_raw_line(line);
        w.complete();
    }
    auto r = tx.exec("SELECT id, v FROM t ORDER BY id");
    ASSERT_EQ(r.size(), 2 * hostile_texts.size() + 1);
    for (std::size_t i = 0; i < hostile_texts.size(); ++i) {
        EXPECT_EQ(r[i][1].as<std::string>(), hostile_texts[i]) << "literal #" << i;
        EXPECT_EQ(r[hostile_texts.size() + i][1].as<std::string>(), hostile_texts[i]) << "COPY #" << i;
    }
    EXPECT_TRUE(r[2 * hostile_texts.size()][1].is_null());
}

TEST_F(pgs_quote_server, hostile_identifiers_name_real_objects)
{
    pqxx::work tx(*conn_);
    const std::vector<std::string> names = {"a\"b", "O'Hara", "x\"; DROP TABLE y; --", "Mixed Case",
                                            "\xC3\xA9t\xC3\xA9"};
    for (const auto& n : names) {
        tx.exec("CREATE TABLE " + pgs_quote_identifier(std::string_view(n)) + " (" +
                pgs_quote_identifier(std::string_view(n)) + " int)");
        auto r = tx.exec("SELECT column_name FROM information_schema.columns WHERE table_name = " +
                         pgs_quote_literal(std::string_view(n)));
        ASSERT_EQ(r.size(), 1u) << n;
        EXPECT_EQ(r[0][0].as<std::string>(), n);
    }
}

TEST_F(pgs_quote_server, bytea_forms_arrive_byte_for_byte)
{
    pqxx::work tx(*conn_);
    tx.exec("CREATE TABLE b (id int, v bytea)");
    const std::uint8_t bytes[] = {0x00, 0x0A, 0x0D, 0x09, 0x5C, 0x27, 0xFF};
    std::string sql = "INSERT INTO b VALUES (1, ";
    pgs_append_bytea_literal(sql, bytes, sizeof bytes);
    sql += ")";
    tx.exec(sql);
    {
        pqxx::tablewriter w(tx, "b");
        std::string line = "2\t";
        pgs_append_copy_bytea(line, bytes, sizeof bytes);
        w.write_raw_line(line);
        w.complete();
    }
    auto r = tx.exec("SELECT encode(v, 'hex') FROM b ORDER BY id");
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0][0].as<std::string>(), "000a0d095c27ff");
    EXPECT_EQ(r[1][0].as<std::string>(), "000a0d095c27ff");
}

TEST(pgs_quote_conninfo, password_with_blank_quote_and_dollar_logs_in)
{
    auto f = test_env::pg();
    std::string conninfo = "host=";
    pgs_append_conninfo_value(conninfo, f.host);
    conninfo += " port=" + std::to_string(f.port) + " user=";
    pgs_append_conninfo_value(conninfo, f.user);
    conninfo += " password=";
    pgs_append_conninfo_value(conninfo, f.password);
    conninfo += " dbname=";
    pgs_append_conninfo_value(conninfo, "postgres");
    pqxx::connection c(conninfo);
    EXPECT_TRUE(c.is_open());
}

}  // namespace
