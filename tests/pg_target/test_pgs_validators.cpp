// PostgreSQL name forms and validators: folding and quoting with and without case sensitivity,
// byte-counted lengths, safe names, and the destination-wide index-name validator.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <pqxx/pqxx>

#include "TK/tk_exception.h"
#include "TK/tk_strings.h"
#include "UDB/udb_index.h"
#include "UDB/udb_schema.h"
#include "pg_target/pgs_quote.h"
#include "pg_target/pgs_validators.h"
#include "support/pg_scratch_db.h"
#include "support/test_env.h"

namespace {

struct form_case {
    const char* name;
    const wchar_t* input;
    bool split;
    bool case_sens;
    const wchar_t* expected;
};

std::ostream& operator<<(std::ostream& os, const form_case& c) { return os << c.name; }

class name3_forms : public ::testing::TestWithParam<form_case> {};

TEST_P(name3_forms, wide_and_narrow_agree)
{
    const auto& c = GetParam();
    EXPECT_EQ(tk_unicode_to_utf8(pgs_make_name3(c.input, c.split, c.case_sens)), tk_unicode_to_utf8(c.expected));
    EXPECT_EQ(pgs_make_name1(tk_unicode_to_utf8(c.input), c.split, c.case_sens), tk_unicode_to_utf8(c.expected));
}

INSTANTIATE_TEST_SUITE_P(
    cases, name3_forms,
    ::testing::Values(
        form_case{"split_folded", L"My.Table", true, false, L"\"my\".\"table\""},
        form_case{"unsplit_folded", L"My.Table", false, false, L"my.table"},
        form_case{"split_case_kept", L"My.Table", true, true, L"\"My\".\"Table\""},
        form_case{"plain", L"Orders", true, false, L"\"orders\""},
        form_case{"already_quoted", L"\"Orders\"", true, true, L"\"Orders\""},
        form_case{"already_quoted_pair", L"\"s\".\"T\"", true, true, L"\"s\".\"T\""},
        form_case{"inner_quote_doubled", L"a\"b", true, true, L"\"a\"\"b\""},
        form_case{"quote_injection", L"x\"; DROP TABLE y; --", true, true, L"\"x\"\"; DROP TABLE y; --\""},
        form_case{"only_first_dot_splits", L"a.b.c", true, true, L"\"a\".\"b.c\""},
        form_case{"trailing_dot", L"abc.", true, true, L"\"abc.\""},
        form_case{"non_ascii_not_folded", L"\u00c9T\u00c9", true, false, L"\"\u00c9t\u00c9\""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(pgs_name_forms, column_and_index_names)
{
    EXPECT_EQ(pgs_make_name2(L"Order Date"), L"\"Order Date\"");
    EXPECT_EQ(pgs_make_name2(L"\"Id\""), L"\"Id\"");
    EXPECT_EQ(pgs_make_name2(L"a\"b"), L"\"a\"\"b\"");
    EXPECT_EQ(pgs_make_idx_name(L"ix\"1", false), L"\"ix_1\"");
    EXPECT_EQ(pgs_make_idx_name(L"IX_Name", false), L"\"ix_name\"");
    EXPECT_EQ(pgs_make_idx_name(L"IX_Name", true), L"\"IX_Name\"");
    EXPECT_EQ(pgs_unquote_name(L"\"a\"\"b\""), L"a\"b");
    EXPECT_EQ(pgs_unquote_name(L"plain"), L"plain");
    EXPECT_TRUE(pgs_is_quoted_name(L"\"a\"\"b\""));
    EXPECT_FALSE(pgs_is_quoted_name(L"\"a\"b\""));
    EXPECT_FALSE(pgs_is_quoted_name(L"\"a"));
}

TEST(pgs_name_lengths, counted_in_utf8_bytes_cut_on_characters)
{
    std::wstring cyr(40, L'\u0436');  // 80 bytes
    EXPECT_EQ(pgs_truncate_identifier(cyr).size(), 31u);
    std::wstring emoji = L"a" + std::wstring(20, L'\U0001F600');  // 1 + 80 bytes
    EXPECT_EQ(pgs_truncate_identifier(emoji).size(), 16u);        // 1 + 15 * 4 = 61
    EXPECT_EQ(pgs_cut_to_bytes(L"ab\u0436", 3), L"ab");
}

struct accept_case {
    const char* name;
    std::wstring input;
    bool acceptable;
};

std::ostream& operator<<(std::ostream& os, const accept_case& c) { return os << c.name; }

class acceptable_names : public ::testing::TestWithParam<accept_case> {};

TEST_P(acceptable_names, verdict)
{
    pgs_validator v;
    v.restricted_names.push_back(L"Reserved");
    EXPECT_EQ(v.is_acceptable(GetParam().input), GetParam().acceptable);
}

INSTANTIATE_TEST_SUITE_P(
    cases, acceptable_names,
    ::testing::Values(accept_case{"ascii_63", std::wstring(63, L'a'), true},
                      accept_case{"ascii_64", std::wstring(64, L'a'), false},
                      accept_case{"quoted_63_inside", L"\"" + std::wstring(63, L'a') + L"\"", true},
                      accept_case{"quoted_64_inside", L"\"" + std::wstring(64, L'a') + L"\"", false},
                      accept_case{"quoted_empty", L"\"\"", false},
                      accept_case{"quoted_with_doubled_quote", L"\"a\"\"b\"", true},
                      accept_case{"quoted_with_bare_quote", L"\"a\"b\"", false},
                      accept_case{"cyrillic_62_bytes", std::wstring(31, L'\u0436'), true},
                      accept_case{"cyrillic_64_bytes", std::wstring(32, L'\u0436'), false},
                      accept_case{"quoted_cyrillic_64_bytes", L"\"" + std::wstring(32, L'\u0436') + L"\"", false},
                      accept_case{"blank_allowed", L"Order Date", true},
                      accept_case{"specials_allowed", L"a#b$c-d.e_f", true},
                      accept_case{"slash", L"Order/Date", false},
                      accept_case{"empty", L"", false},
                      accept_case{"restricted_any_case", L"RESERVED", false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(pgs_validator, safe_names)
{
    pgs_validator v;
    EXPECT_EQ(v.get_safe_name(L"xmin"), L"x_min");
    EXPECT_EQ(v.get_safe_name(L"XMAX"), L"x_max");
    EXPECT_EQ(v.get_safe_name(L"Order/Date"), L"order_date");
    EXPECT_EQ(v.get_safe_name(L"Say \"hi\""), L"say _hi_");
    EXPECT_EQ(v.get_safe_name(std::wstring(70, L'A')), std::wstring(62, L'a'));
    EXPECT_EQ(v.get_safe_name(L""), L"00000");
    v.add_existing_name(L"order_date");
    EXPECT_EQ(v.get_safe_name(L"Order/Date"), L"order_date00000");
    v.add_existing_name(L"order_date00000");
    EXPECT_EQ(v.get_safe_name(L"Order/Date"), L"order_date00001");
}

TEST(pgs_validator, safe_names_of_multibyte_text_fit_63_bytes)
{
    pgs_validator v;
    std::wstring cyr(40, L'\u0416');  // upper-case: only A-Z are folded
    std::wstring safe = v.get_safe_name(cyr);
    EXPECT_EQ(safe, std::wstring(31, L'\u0416'));
    v.add_existing_name(safe);
    // The counter needs room: the stem is cut to 57 bytes (28 two-byte letters).
    std::wstring second = v.get_safe_name(cyr);
    EXPECT_EQ(second, std::wstring(28, L'\u0416') + L"00000");
    EXPECT_LE(pgs_utf8_length(second), pgs_max_name_bytes);
}

TEST(pgs_validator, field_and_table_validators_know_their_names)
{
    udb_schema schema;
    schema.add_column(t_ftd(4, L"Id", VT_I4, true, false));
    schema.add_column(t_ftd(4, L"name", VT_BSTR, false, false));
    pgs_fn_validator fields(schema);
    EXPECT_TRUE(fields.is_duplicated(L"ID"));
    EXPECT_EQ(fields.get_safe_name(L"NAME"), L"name00000");

    pgs_tn_validator tables({L"orders"}, {L"items"});
    EXPECT_TRUE(tables.is_duplicated(L"Items"));
    EXPECT_FALSE(tables.is_duplicated(L"other"));
}

// A column may not take the name of a system column, which every table already has.
TEST(pgs_validator, column_names_of_system_columns_are_made_safe)
{
    pgs_fn_validator fields(std::vector<std::wstring>{});
    for (const wchar_t* n : {L"xmin", L"XMAX", L"ctid", L"tableoid", L"cmin", L"cmax"}) {
        EXPECT_FALSE(fields.is_acceptable(n)) << tk_unicode_to_utf8(n);
        EXPECT_NE(fields.get_safe_name(n), tk_to_lower(std::wstring(n)));
    }
    EXPECT_TRUE(fields.is_acceptable(L"xmin_time"));
    pgs_tn_validator tables({}, {});
    EXPECT_TRUE(tables.is_acceptable(L"xmin"));  // a table may be called so
}

TEST(pgs_in_validator, knows_run_and_destination_index_names)
{
    pgs_in_validator v;

    udb_indexes source;
    source.push_back(udb_index(L"ix_a", false, false, {L"a"}));
    v.add_index_names(source);
    EXPECT_TRUE(v.is_duplicated(L"IX_A"));
    EXPECT_TRUE(v.is_acceptable(L"ix_a"));  // a source name may be used as it is

    // A name already present in the destination schema is never handed out again.
    v.add_destination_names({L"ix_b"});
    EXPECT_FALSE(v.is_acceptable(L"IX_B"));
    EXPECT_EQ(v.get_safe_name(L"ix_b"), L"ix_b00000");
}

// Every MySQL primary key is called PRIMARY: a run of many tables numbers them one after the
// other, skipping a name the destination already holds, as the index builder takes them.
TEST(pgs_in_validator, numbers_many_primary_keys_in_order)
{
    pgs_in_validator v;
    v.add_destination_names({L"PRIMARY00005"});
    std::vector<std::wstring> made;
    for (int table = 0; table < 2000; ++table) {
        std::wstring name = L"PRIMARY";
        if (!v.is_acceptable(name) || v.is_duplicated(name)) name = v.get_safe_name(name);
        v.add_existing_name(name);
        v.restricted_names.push_back(name);
        made.push_back(name);
        if (table == 10) v.add_destination_names({L"primary00012"});
    }
    EXPECT_EQ(made[0], L"PRIMARY");
    EXPECT_EQ(made[1], L"primary00000");
    EXPECT_EQ(made[5], L"primary00004");
    EXPECT_EQ(made[6], L"primary00006");  // 00005 is the destination's
    EXPECT_EQ(made[11], L"primary00011");
    EXPECT_EQ(made[12], L"primary00013");  // 00012 became the destination's meanwhile
    EXPECT_EQ(made.back(), L"primary02000");
}

// A table dropped to be made again gives back the names of its indexes: a released name is
// free unless something else still holds it (the same name in another schema, the run's own
// use), and a released numbered name is found again although the search had passed it.
TEST(pgs_in_validator, released_names_are_free_while_no_other_holder_remains)
{
    pgs_in_validator v;
    v.add_destination_names({L"ix_n", L"ix_n00000", L"ix_n00001", L"shared", L"shared", L"primary", L"primary00000"});
    // The destination opened again: the same catalog, nothing more to count.
    v.add_destination_names({L"ix_n00000", L"shared", L"shared", L"primary"});
    EXPECT_EQ(v.get_safe_name(L"ix_n"), L"ix_n00002");

    v.release_dropped_names({L"ix_n00000", L"shared", L"never_there"});
    EXPECT_FALSE(v.is_acceptable(L"ix_n"));
    EXPECT_EQ(v.get_safe_name(L"ix_n"), L"ix_n00000");
    EXPECT_FALSE(v.is_acceptable(L"shared"));  // held twice, given back once
    EXPECT_TRUE(v.is_acceptable(L"never_there"));

    // Only a use the catalog gave goes: not the run's own, nor a name the run reserves.
    v.restricted_names.push_back(L"run_view");
    v.add_existing_name(L"run_ix");
    v.release_dropped_names({L"run_view", L"run_ix"});
    EXPECT_FALSE(v.is_acceptable(L"run_view"));
    EXPECT_TRUE(v.is_duplicated(L"run_ix"));

    v.release_dropped_names({L"primary", L"shared"});
    EXPECT_TRUE(v.is_acceptable(L"Primary"));  // names compare ignoring case
    EXPECT_FALSE(v.is_duplicated(L"PRIMARY"));
    EXPECT_TRUE(v.is_acceptable(L"shared"));
    EXPECT_EQ(v.get_safe_name(L"PRIMARY"), L"primary");

    // Taken again by the run: refused again, and never given back twice.
    v.restricted_names.push_back(L"primary");
    v.add_existing_name(L"primary");
    EXPECT_FALSE(v.is_acceptable(L"primary"));
    EXPECT_EQ(v.get_safe_name(L"primary"), L"primary00001");
    v.release_dropped_names({L"ix_n00000", L"ix_n00000"});
    EXPECT_EQ(v.get_safe_name(L"ix_n"), L"ix_n00000");
    v.add_existing_name(L"ix_n00000");
    v.restricted_names.push_back(L"ix_n00000");
    EXPECT_EQ(v.get_safe_name(L"ix_n"), L"ix_n00002");
}

// The names made here are the names the server keeps: nothing is cut by PostgreSQL's 63-byte
// limit, and case folding and quoting name the same objects as the server's own rules.
TEST(pgs_names_server, made_names_survive_unchanged)
{
    test_env::pg_scratch_db db("qt_names");
    pqxx::connection conn(db.conninfo());
    pqxx::work tx(conn);

    pgs_validator v;
    std::vector<std::wstring> sources = {std::wstring(40, L'\u0416'), std::wstring(70, L'x'),
                                         L"a" + std::wstring(20, L'\U0001F600'), L"Say \"hi\""};
    for (const auto& source : sources) {
        std::wstring safe = v.get_safe_name(source);
        std::string name_utf8 = tk_unicode_to_utf8(safe);
        tx.exec("CREATE TABLE " + tk_unicode_to_utf8(pgs_make_name3(safe, true, true)) + " (c int)");
        auto r = tx.exec("SELECT count(*) FROM pg_class WHERE relname = " +
                         pgs_quote_literal(std::string_view(name_utf8)));
        EXPECT_EQ(r[0][0].as<int>(), 1) << name_utf8;
    }

    // Folded and quoted, a mixed-case name is the name the server gives the unquoted form.
    tx.exec("CREATE TABLE MixedCase (c int)");
    auto r = tx.exec("SELECT count(*) FROM " + tk_unicode_to_utf8(pgs_make_name3(L"MixedCase", true, false)));
    EXPECT_EQ(r[0][0].as<int>(), 0);
    // Case-sensitive names stay distinct objects.
    tx.exec("CREATE TABLE " + tk_unicode_to_utf8(pgs_make_name3(L"MixedCase", true, true)) + " (c int)");
    auto n = tx.exec("SELECT count(*) FROM pg_class WHERE relname IN ('mixedcase', 'MixedCase')");
    EXPECT_EQ(n[0][0].as<int>(), 2);
}

}  // namespace
