// Foreign keys, sequences and views of the PostgreSQL side, live and in a script that psql
// loads: the unique index a key needs on its referenced columns, tables and fields followed
// through the names map, rules kept or left out, sequences with their numbers, views made from
// SELECT texts only, and the view-text rewriting with its refusals.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "TK/tk_exception.h"
#include "TK/tk_strings.h"
#include "UDB/udb_index.h"
#include "pg_target/pgs_database.h"
#include "pg_target/pgs_dump.h"
#include "pg_target/pgs_engine.h"
#include "pg_target/pgs_exception.h"
#include "pgs_live_fixture.h"
#include "support/pg_scratch_db.h"
#include "support/psql_load.h"
#include "support/scratch_dir.h"
#include "support/test_env.h"

using test_env::read_file;
using test_env::run_psql;

namespace {


// Collects what create_views reports; optionally aborts as a user would.
struct captured_reports {
    std::vector<std::wstring> prefixes;
    std::vector<std::string> texts;
    bool abort = false;

    captured_reports()
    {
        udb_set_failure_reporter([this](const udb_failure& f) {
            prefixes.push_back(f.where());
            texts.push_back(f.text);
            if (abort) throw tk_final_exception();
        });
    }
    ~captured_reports() { udb_set_failure_reporter({}); }
};

udb_relationship key(const wchar_t* name, const wchar_t* table, const wchar_t* ref_table,
                     std::vector<std::wstring> columns, std::vector<std::wstring> ref_columns,
                     const wchar_t* rule)
{
    return udb_relationship(name, L"", table, ref_table, std::move(columns), std::move(ref_columns), rule);
}

}  // namespace

// ---- live database ------------------------------------------------------------------------------

class pgs_relations_live : public pgs_live_suite {
protected:
    // Creates a table through the database under test, so the names map records its renames.
    void create(const std::wstring& name, const std::vector<test_column>& cols, udb_indexes indexes = {})
    {
        udb_schema s = make_schema(cols);
        auto rs = db().create_table1(name, s, indexes);
        ASSERT_NE(rs, nullptr);
    }
    static int count(const std::string& sql_text) { return std::stoi(sql1(sql_text)); }
    static std::string fk_rules(const std::string& constraint)
    {
        return sql1("SELECT confdeltype::text || confupdtype::text FROM pg_constraint WHERE conname = '" +
                    constraint + "'");
    }
    static int unique_indexes_on(const std::string& table)
    {
        return count("SELECT count(*) FROM pg_index WHERE indisunique AND indrelid = 'public." + table +
                     "'::regclass");
    }
};

TEST_F(pgs_relations_live, key_follows_renamed_tables_and_fields_and_gets_its_unique_index)
{
    // A slash is refused in names: both columns get other names.
    create(L"Rel_Parent", {{L"Id", VT_I4}, {L"Code/No", VT_I4}});
    create(L"Rel_Child", {{L"Id", VT_I4}, {L"Parent/Ref", VT_I4}});
    db().add_tn_mapping(L"SrcParent", L"public.Rel_Parent");
    db().add_tn_mapping(L"SrcChild", L"public.Rel_Child");
    ASSERT_EQ(unique_indexes_on("rel_parent"), 0);

    db().create_relationships({key(L"FK.Child Parent", L"SrcChild", L"SrcParent", {L"Parent/Ref"}, {L"Code/No"},
                                   L"  ON DELETE CASCADE ON UPDATE SET NULL ")});

    EXPECT_EQ(fk_rules("fk.child parent"), "cn");
    EXPECT_EQ(sql1("SELECT pg_get_constraintdef(oid) FROM pg_constraint WHERE conname = 'fk.child parent'"),
              "FOREIGN KEY (parent_ref) REFERENCES rel_parent(code_no) ON UPDATE SET NULL ON DELETE CASCADE");
    EXPECT_EQ(sql1("SELECT indexdef FROM pg_indexes WHERE tablename = 'rel_parent'"),
              "CREATE UNIQUE INDEX uidx_code_no ON public.rel_parent USING btree (code_no)");
    // The key works: a parent row's removal removes its child.
    sql("INSERT INTO rel_parent VALUES (1, 10); INSERT INTO rel_child VALUES (5, 10); "
        "DELETE FROM rel_parent; SELECT 1");
    EXPECT_EQ(count("SELECT count(*) FROM rel_child"), 0);
}

TEST_F(pgs_relations_live, key_without_rule_or_name_and_referenced_key_already_unique)
{
    udb_indexes pk;
    pk.push_back(udb_index(L"PRIMARY", true, true, {L"Id"}));
    create(L"rel_p2", {{L"Id", VT_I4}}, pk);
    create(L"rel_c2", {{L"P", VT_I4}});
    ASSERT_EQ(unique_indexes_on("rel_p2"), 1);

    db().create_relationships({key(L"", L"public.rel_c2", L"public.rel_p2", {L"P"}, {L"Id"}, L"")});

    EXPECT_EQ(unique_indexes_on("rel_p2"), 1) << "the primary key covers the referenced column";
    EXPECT_EQ(sql1("SELECT confdeltype::text || confupdtype::text FROM pg_constraint WHERE contype = 'f' "
                   "AND conrelid = 'public.rel_c2'::regclass"),
              "aa");
}

TEST_F(pgs_relations_live, primary_key_over_the_columns_in_another_order_covers_the_key)
{
    // The key's columns (b, a) in another order than the table's (a, b): no index is added.
    udb_indexes pk;
    pk.push_back(udb_index(L"PRIMARY", true, true, {L"b", L"a"}));
    create(L"rel_p4", {{L"a", VT_I4}, {L"b", VT_I4}}, pk);
    create(L"rel_c4", {{L"x", VT_I4}, {L"y", VT_I4}});
    ASSERT_EQ(unique_indexes_on("rel_p4"), 1);

    db().create_relationships({key(L"fk4", L"rel_c4", L"rel_p4", {L"x", L"y"}, {L"b", L"a"}, L"")});

    EXPECT_EQ(unique_indexes_on("rel_p4"), 1) << "the primary key covers the referenced columns";
    EXPECT_EQ(fk_rules("fk4"), "aa");
}

TEST_F(pgs_relations_live, unique_index_over_more_columns_does_not_cover_the_key)
{
    udb_indexes idx;
    idx.push_back(udb_index(L"ux_ab", true, false, {L"a", L"b"}));
    create(L"rel_p3", {{L"a", VT_I4}, {L"b", VT_I4}}, idx);
    create(L"rel_c3", {{L"a", VT_I4}});
    // Another table already has an index of the name the key's index would get.
    sql("CREATE TABLE rel_other3 (a int); CREATE UNIQUE INDEX uidx_a ON rel_other3(a); SELECT 1");

    db().create_relationships({key(L"fk3", L"rel_c3", L"rel_p3", {L"a"}, {L"a"}, L"ON DELETE RESTRICT")});

    EXPECT_EQ(fk_rules("fk3"), "ra");
    EXPECT_EQ(sql1("SELECT indexname FROM pg_indexes WHERE tablename = 'rel_p3' AND indexname LIKE 'uidx%'"),
              "uidx_a_00000");
}

TEST_F(pgs_relations_live, case_sensitive_names_keep_their_case_in_key_and_index)
{
    engine().is_case_sens = true;
    create(L"Rel_CS_Parent", {{L"Code", VT_I4}});
    create(L"Rel_CS_Child", {{L"Ref", VT_I4}});
    db().create_relationships({key(L"Fk_CS", L"Rel_CS_Child", L"Rel_CS_Parent", {L"Ref"}, {L"Code"}, L"")});
    EXPECT_EQ(sql1("SELECT pg_get_constraintdef(oid) FROM pg_constraint WHERE conname = 'Fk_CS'"),
              "FOREIGN KEY (\"Ref\") REFERENCES \"Rel_CS_Parent\"(\"Code\")");
    EXPECT_EQ(sql1("SELECT indexname FROM pg_indexes WHERE tablename = 'Rel_CS_Parent'"), "UIDX_Code");
}

TEST_F(pgs_relations_live, failing_key_ends_the_list_and_keeps_the_keys_before_it)
{
    create(L"rel_p4", {{L"id", VT_I4}}, [] {
        udb_indexes i;
        i.push_back(udb_index(L"PRIMARY", true, true, {L"id"}));
        return i;
    }());
    create(L"rel_c4", {{L"p", VT_I4}});

    // A rule that is not made of key words never reaches the server.
    try {
        db().create_relationships(
            {key(L"fk4_bad", L"rel_c4", L"rel_p4", {L"p"}, {L"id"}, L"ON DELETE CASCADE; DROP TABLE rel_p4")});
        FAIL() << "no exception";
    } catch (const pgs_exception& e) {
        EXPECT_NE(std::string(e.what()).find("Cannot create foreign key 'fk4_bad'"), std::string::npos) << e.what();
    }
    EXPECT_EQ(count("SELECT count(*) FROM pg_tables WHERE tablename = 'rel_p4'"), 1);

    try {
        db().create_relationships({key(L"fk4_ok", L"rel_c4", L"rel_p4", {L"p"}, {L"id"}, L""),
                                   key(L"fk4_missing", L"rel_c4", L"rel_p4", {L"nope"}, {L"id"}, L""),
                                   key(L"fk4_after", L"rel_c4", L"rel_p4", {L"p"}, {L"id"}, L"")});
        FAIL() << "no exception";
    } catch (const pgs_exception& e) {
        EXPECT_EQ(std::string(e.what()).rfind("Cannot create foreign key 'fk4_missing': ", 0), 0u) << e.what();
        EXPECT_EQ(e.sqlstate(), "42703");
    }
    EXPECT_EQ(count("SELECT count(*) FROM pg_constraint WHERE conname LIKE 'fk4%'"), 1);
    EXPECT_EQ(fk_rules("fk4_ok"), "aa");
}

TEST_F(pgs_relations_live, sequences_get_their_numbers_and_a_failing_one_is_skipped)
{
    db().create_sequences({
        udb_sequence(L"rel_seq_a", 100, 5, 1, 1000, false),
        udb_sequence(L"rel_seq_bad", 5000, 1, 1, 1000, false),  // start above the maximum
        udb_sequence(L"rel_Seq\"Odd", -3, -2, -9, -1, true),
        udb_sequence(L"rel_seq_plain", 7, 3, 0, 0, false),  // bounds never given
    });
    EXPECT_EQ(sql1("SELECT nextval('rel_seq_a') || ',' || nextval('rel_seq_a')"), "100,105");
    EXPECT_EQ(count("SELECT count(*) FROM pg_class WHERE relname = 'rel_seq_bad'"), 0);
    EXPECT_EQ(sql1("SELECT start_value || ',' || increment_by || ',' || min_value || ',' || max_value || ',' || "
                   "cycle FROM pg_sequences WHERE sequencename = 'rel_seq\"odd'"),
              "-3,-2,-9,-1,true");
    EXPECT_EQ(sql1("SELECT nextval('rel_seq_plain') || ',' || nextval('rel_seq_plain')"), "7,10");
    // IF NOT EXISTS: asked again, nothing fails and nothing changes.
    db().create_sequences({udb_sequence(L"rel_seq_a", 1, 1, 1, 10, false)});
    EXPECT_EQ(sql1("SELECT nextval('rel_seq_a')"), "110");
}

TEST_F(pgs_relations_live, views_from_selects_only_with_safe_names_and_reported_failures)
{
    create(L"Rel_VBase", {{L"Id", VT_I4}, {L"Name", VT_BSTR, 20}});
    sql("INSERT INTO rel_vbase VALUES (1, 'one'), (2, 'two'); SELECT 1");
    captured_reports reports;
    db().create_views({
        {L"rel_v_ok", L"SELECT [id], `Name` FROM `Rel_VBase` WHERE name <> 'it''s; \\ ok';"},
        {L"rel_v/slash", L"  (select count(*) AS n from rel_vbase)"},
        {L"rel_v_show", L"SHOW TABLES"},
        {L"rel_v_two", L"select 1; drop table rel_vbase"},
        {L"rel_v_err", L"select * from rel_no_such_table"},
        {L"rel_v_join", L"select a.id from rel_vbase a cross join rel_vbase b on a.id = b.id"},
    });

    EXPECT_EQ(sql1("SELECT string_agg(viewname, ',' ORDER BY viewname) FROM pg_views WHERE viewname LIKE 'rel_v%'"),
              "rel_v_join,rel_v_ok,rel_v_slash");
    EXPECT_EQ(sql1("SELECT string_agg(name, ',' ORDER BY id) FROM rel_v_ok"), "one,two");
    EXPECT_EQ(sql1("SELECT n FROM rel_v_slash"), "2");
    EXPECT_EQ(db().get_names_map().get_tn_mapped_name(L"rel_v/slash", true), L"rel_v_slash");
    EXPECT_EQ(count("SELECT count(*) FROM pg_tables WHERE tablename = 'rel_vbase'"), 1);
    ASSERT_EQ(reports.prefixes.size(), 2u);
    EXPECT_EQ(reports.prefixes[0], L"View 'rel_v_two'");
    EXPECT_NE(reports.texts[0].find("more than one statement"), std::string::npos) << reports.texts[0];
    EXPECT_EQ(reports.prefixes[1], L"View 'rel_v_err'");
    EXPECT_NE(reports.texts[1].find("rel_no_such_table"), std::string::npos) << reports.texts[1];
}

TEST_F(pgs_relations_live, abort_in_a_view_report_leaves_at_once)
{
    captured_reports reports;
    reports.abort = true;
    EXPECT_THROW(db().create_views({{L"rel_a1", L"select * from rel_missing"}, {L"rel_a2", L"select 1 as x"}}),
                 tk_final_exception);
    EXPECT_EQ(reports.prefixes.size(), 1u);
    EXPECT_EQ(count("SELECT count(*) FROM pg_views WHERE viewname = 'rel_a2'"), 0);
}

// ---- view text rewriting --------------------------------------------------------------------------

struct refine_case {
    const char* label;
    const wchar_t* in;
    const wchar_t* out;  // nullptr: refused
};

class pgs_refine_view : public ::testing::TestWithParam<refine_case> {
protected:
    void SetUp() override { engine = std::make_unique<pgs_engine>(); }
    void TearDown() override { engine.reset(); }
    std::unique_ptr<pgs_engine> engine;
};

TEST_P(pgs_refine_view, rewrites_or_refuses)
{
    const refine_case& c = GetParam();
    pgs_dump_options o;
    o.insert_comments = false;
    char tmpl[] = "/tmp/pgs_refine_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const std::string path = std::string(tmpl) + "/x.sql";
    {
        pgs_dmp_database db(tk_utf8_to_unicode(path), o);
        if (c.out) {
            EXPECT_EQ(db.refine_view_in(c.in), std::wstring(c.out));
        } else {
            EXPECT_THROW(db.refine_view_in(c.in), pgs_exception);
        }
    }
    std::remove(path.c_str());
    rmdir(tmpl);
}

// MySQL view texts (as the server stores them, and as a user types them) without the names of a
// run: names are only folded and quoted.
INSTANTIATE_TEST_SUITE_P(
    cases, pgs_refine_view,
    ::testing::Values(
        refine_case{"brackets", L"select [a] from [t]", L"select \"a\" from \"t\""},
        refine_case{"bracket_name_with_quote", L"select [a\"b] from t", L"select \"a\"\"b\" from t"},
        refine_case{"backticks_folded_and_quoted", L"select `T`.`Na\"me`, `a``b` from `T`",
                    L"select \"t\".\"na\"\"me\", \"a`b\" from \"t\""},
        // Joins: MySQL stores CROSS JOIN (and a comma) as JOIN without ON, which PostgreSQL
        // reads only as CROSS JOIN; CROSS JOIN with ON is an inner join.
        refine_case{"cross_join_with_on", L"select * from a CROSS JOIN b ON a.id = b.id",
                    L"select * from a JOIN b ON a.id = b.id"},
        refine_case{"cross_join_on_paren", L"select * from a Cross join b on(a.id = b.id)",
                    L"select * from a join b on(a.id = b.id)"},
        refine_case{"cross_join_without_on", L"select * from a CROSS JOIN b", L"select * from a CROSS JOIN b"},
        refine_case{"stored_join_without_on", L"select `a`.`id` AS `id` from (`t` `a` join `t2` `b`)",
                    L"select \"a\".\"id\" AS \"id\" from (\"t\" \"a\" cross join \"t2\" \"b\")"},
        refine_case{"inner_join_without_on", L"select 1 from t inner join u", L"select 1 from t cross join u"},
        refine_case{"join_using_kept", L"select 1 from t join u using (id)", L"select 1 from t join u using (id)"},
        refine_case{"nested_joins", L"select 1 from ((`t` `a` join `u` `b`) left join `v` `c` on(`a`.`id` = `c`.`id`))",
                    L"select 1 from ((\"t\" \"a\" cross join \"u\" \"b\") left join \"v\" \"c\" on(\"a\".\"id\" = \"c\".\"id\"))"},
        refine_case{"join_words_inside_literals", L"select ' JOIN ', ' ON ' from a cross join b",
                    L"select ' JOIN ', ' ON ' from a cross join b"},
        // Comments go; comment marks inside names and literals are neither comments nor cut.
        refine_case{"comment_marks_in_names", L"select id from t where `x/*` = 1 and secret = 0 and `*/y` = 1",
                    L"select id from t where \"x/*\" = 1 and secret = 0 and \"*/y\" = 1"},
        refine_case{"comment_marks_in_literal", L"select 'a/* note */b' as s, 1 as `a/*`, 3 as `*/c`",
                    L"select 'a/* note */b' as s, 1 as \"a/*\", 3 as \"*/c\""},
        refine_case{"comments_dropped", L"select `[a]`, \"[b]\" /* [c] cross */ from [t u] x -- end",
                    L"select \"[a]\", '[b]' from \"t u\" x"},
        // Literals keep their characters: MySQL's escapes read, the value re-quoted.
        refine_case{"backslash_escape", L"select concat('a','\\n','b') as s",
                    L"select (('a')::text || (E'\\n')::text || ('b')::text) as s"},
        refine_case{"escaped_backslash", L"select 1 from t where p = 'a\\\\b'", L"select 1 from t where p = 'a\\b'"},
        refine_case{"escaped_quotes", L"select 'it\\'s', 'it''s', \"dq\", \"say \\\"x\\\"\", N'n'",
                    L"select 'it''s', 'it''s', 'dq', 'say \"x\"', 'n'"},
        refine_case{"adjacent_literals_join", L"select 'a' 'b' \"c\" as s", L"select 'abc' as s"},
        refine_case{"like_escapes_kept", L"select 1 from t where p like '100\\%'", L"select 1 from t where p like '100\\%'"},
        refine_case{"prefix_inside_literal", L"select 'db is `db`.t' as s", L"select 'db is `db`.t' as s"},
        refine_case{"minus_minus", L"select 1--1 as x", L"select 1- -1 as x"},
        // The current moment, as MySQL stores NOW(): a date and time of the session's zone, cut
        // to the second (PostgreSQL's CURRENT_TIMESTAMP would print the fraction and the zone),
        // or to the precision asked (PostgreSQL's LOCALTIMESTAMP(n) rounds); SYSDATE the moment
        // of the call.
        refine_case{"time_functions",
                    L"select current_timestamp(), current_date( ), localtime(), current_timestamp(3), current_time, "
                    L"now, now(0), sysdate(2), curdate(), curtime(1), now(6) from t where now() > '2000-01-01'",
                    L"select date_trunc('second', localtimestamp), current_date, date_trunc('second', localtimestamp), "
                    L"date_bin('1000 microseconds', localtimestamp, timestamp '2000-01-01')::timestamp(3), "
                    L"date_trunc('second', localtimestamp)::time, now, date_trunc('second', localtimestamp), "
                    L"date_bin('10000 microseconds', clock_timestamp()::timestamp, timestamp '2000-01-01')::timestamp(2), "
                    L"current_date, date_bin('100000 microseconds', localtimestamp, timestamp '2000-01-01')::timestamp(1)::time(1), "
                    L"localtimestamp from t where date_trunc('second', localtimestamp) > '2000-01-01'"},
        refine_case{"time_precision_of_a_column", L"select now(p) from t", nullptr},
        // MariaDB's groups come in GROUP BY's order: GROUP BY ... LIMIT picks the first ones.
        refine_case{"group_limit", L"select `a`, count(0) AS `c` from `t` group by `t`.`a`, (b + 1) having c > 1 limit 3",
                    L"select \"a\", count(0) AS \"c\" from \"t\" group by \"t\".\"a\", (b + 1) having c > 1 "
                    L"order by \"t\".\"a\" NULLS FIRST, (b + 1) NULLS FIRST limit 3"},
        refine_case{"group_order_limit", L"select a from t group by a order by a desc limit 3",
                    L"select a from t group by a order by a desc NULLS LAST limit 3"},
        refine_case{"closing_semicolon_dropped", L"select 1; \r\n", L"select 1"},
        // MySQL's division keeps the fraction, and by zero it is NULL (for % and MOD too).
        refine_case{"divisions", L"select a / b, 7/2, x / (y + 1), `t`.`c` / -f(d), a / case when b then 1 else 2 end from t",
                    L"select a / nullif(b + 0.0, 0), round(7/nullif(2 + 0.0, 0), 4), x / nullif((y + 1) + 0.0, 0), "
                    L"t.\"c\" / nullif(-f(d) + 0.0, 0), a / nullif(case when b then 1 else 2 end + 0.0, 0) from t"},
        refine_case{"remainders", L"select (`a` % `b`) AS `m`, mod(a, b - 1) AS m2, a % -3, 'x%' like '%' from t",
                    L"select (\"a\" % nullif(\"b\", 0)) AS \"m\", mod(a, nullif(b - 1, 0)) AS m2, "
                    L"a % nullif(-3, 0), ('x%' like '%')::int from t"},
        // A truth value as a result column is 1 or 0 in MySQL (PostgreSQL would print t or f),
        // also in the parentheses MySQL stores; not a comparison inside a call, CASE or a WHERE.
        refine_case{"truth_values",
                    L"select (`a` > `b`) AS `g`, a is null n, not (a = 1) AS x, a in (1, 2), true AS t, "
                    L"(select a <> 1 from u) AS s, coalesce(a > b, 0) AS c, case when a < 1 then 2 end AS k, "
                    L"(a) + 1 AS p from t where a > 1 group by a > 0",
                    L"select ((\"a\" > \"b\"))::int AS \"g\", (a is null)::int n, (not (a = 1))::int AS x, "
                    L"(a in (1, 2))::int, (true)::int AS t, (select (a <> 1)::int from u) AS s, "
                    L"coalesce(a > b, 0) AS c, case when a < 1 then 2 end AS k, (a) + 1 AS p from t where a > 1 "
                    L"group by a > 0"},
        refine_case{"truth_values_in_case", L"select case when a > 1 then b = 2 when a < 0 then (select 1) else a in (1) end AS k from t",
                    L"select case when a > 1 then (b = 2)::int when a < 0 then (select 1) else (a in (1))::int end AS k from t"},
        // In CONCAT a truth value is '1' or '0'; LENGTH counts bytes.
        refine_case{"concat_truth_and_length", L"select concat('x', a > 1), concat_ws('-', (a = 1), b), length(p) from t",
                    L"select (('x')::text || ( (a > 1)::int)::text), concat_ws('-', ((a = 1))::int, b), "
                    L"octet_length(p) from t"},
        // ! is NOT of its operand alone.
        refine_case{"negations", L"select 1 from t where !exists(select 1 from u) and !(a > 1) = b and a != 2",
                    L"select 1 from t where (not exists(select 1 from u)) and (not (a > 1)) = b and a != 2"},
        // TRIM of one character, and EXTRACT of a whole second, read alike.
        refine_case{"trim_one_character", L"select trim(both 'x' from s), trim(leading from s), trim(s), trim('y' from s) from t",
                    L"select trim(both 'x' from s), trim(leading from s), trim(s), trim('y' from s) from t"},
        refine_case{"extract_second", L"select extract(second from `ts`) AS `s`, extract(year from ts) from t",
                    L"select trunc(extract(second from \"ts\")) AS \"s\", extract(year from ts) from t"},
        // Refused: what PostgreSQL would read otherwise, or not as one statement.
        refine_case{"second_statement", L"select 1; drop table t", nullptr},
        refine_case{"backslash_command", L"select 1 \\! rm -rf x", nullptr},
        refine_case{"open_literal", L"select 'abc", nullptr},
        refine_case{"open_comment", L"select 1 /* x", nullptr},
        refine_case{"open_backtick", L"select `abc", nullptr},
        refine_case{"hex_number", L"select 0x41", nullptr},
        refine_case{"hex_string", L"select X'41'", nullptr},
        refine_case{"bit_string", L"select b'1'", nullptr},
        refine_case{"pipes", L"select a || b from t", nullptr},
        refine_case{"caret", L"select 2 ^ 3", nullptr},
        // MySQL's bit operations work on unsigned 64-bit integers (~0 is 18446744073709551615).
        refine_case{"bit_not", L"select ~a from t", nullptr},
        refine_case{"bit_and", L"select (`a` & `b`) AS `x` from t", nullptr},
        refine_case{"bit_or", L"select a | b from t", nullptr},
        refine_case{"shift_left", L"select 1 << 40", nullptr},
        refine_case{"shift_right", L"select a >> 1 from t", nullptr},
        refine_case{"bit_aggregate", L"select bit_and(a) from t", nullptr},
        // MySQL's TRIM removes the text as a whole, PostgreSQL's any of its characters.
        refine_case{"ascii", L"select ascii(p) from t", nullptr},
        refine_case{"pad_with_nothing", L"select lpad(p, 4, '') from t", nullptr},
        refine_case{"trim_two_characters", L"select trim(both 'ab' from s) from t", nullptr},
        refine_case{"trim_column", L"select trim(leading c from s) from t", nullptr},
        // MySQL's week starts on Sunday; its microseconds leave the seconds out.
        refine_case{"extract_week", L"select extract(week from d) from t", nullptr},
        refine_case{"extract_microsecond", L"select extract(microsecond from d) from t", nullptr},
        // A date plus a number is a number in MySQL (20240132), a date in PostgreSQL.
        refine_case{"cast_date_arithmetic", L"select cast(`ts` as date) + 1 AS `d` from t", nullptr},
        refine_case{"date_function_arithmetic", L"select 1 - date(ts) from t", nullptr},
        refine_case{"executable_comment", L"select 1 /*!50001 , 2 */", nullptr},
        refine_case{"dollar_word", L"select $x$ from t", nullptr},
        refine_case{"zero_character", L"select 'a\\0b'", nullptr}),
    [](const ::testing::TestParamInfo<refine_case>& info) { return std::string(info.param.label); });

// ---- script -------------------------------------------------------------------------------------

class pgs_relations_script : public ::testing::Test {
protected:
    void SetUp() override
    {
        scratch = std::make_unique<test_env::scratch_dir>("pgs_relations");
        dir = scratch->path();
        path = dir + "/out.sql";
        engine = std::make_unique<pgs_engine>();
        engine->fast_insert = true;
    }
    void TearDown() override
    {
        engine.reset();
        scratch.reset();
    }
    std::unique_ptr<pgs_dmp_database> open(bool comments)
    {
        pgs_dump_options o;
        o.insert_comments = comments;
        return std::make_unique<pgs_dmp_database>(tk_utf8_to_unicode(path), o);
    }
    // The file from the given offset on.
    std::string tail(std::size_t from) const { return read_file(path).substr(from); }

    std::unique_ptr<test_env::scratch_dir> scratch;
    std::string dir, path;
    std::unique_ptr<pgs_engine> engine;
};

TEST_F(pgs_relations_script, exact_statements_and_headings)
{
    auto db = open(false);
    db->close();
    const std::size_t start = read_file(path).size();
    db = open(false);
    db->create_relationships({});
    db->create_sequences({});
    EXPECT_EQ(db->writer().bytes_written(), start) << "empty lists write nothing";

    db->create_relationships({key(L"", L"Orders", L"Shop.Customers", {L"Cust Id"}, {L"Id"}, L""),
                              key(L"fk\"x", L"Orders", L"Customers", {L"a", L"b"}, {L"c", L"d"},
                                  L"ON DELETE SET NULL")});
    db->create_sequences({udb_sequence(L"Shop.Seq", 10, 2, 1, 99, true)});
    db->delete_fk(key(L"Fk.One", L"Shop.Orders", L"x", {}, {}, L""));
    db->delete_fk(key(L"", L"Shop.Orders", L"x", {}, {}, L""));
    db->delete_idx(L"Shop.Orders", udb_index(L"Ix.Name", false, false, {L"x"}));
    db->delete_idx(L"Shop.Orders", udb_index(L"PRIMARY", true, true, {L"x"}));
    db->close();
    // Each key is guarded: a refusal while the script loads is a warning, and the rest goes on.
    // When the server wants a unique key on the referenced columns, the script makes one, as
    // the live database does; index and key stand or fall together.
    auto guarded = [](const std::string& statement, const std::string& what, const std::string& unique) {
        const std::string run = "EXECUTE $q$" + statement + "$q$;";
        return "DO $q1$\r\nBEGIN\r\nBEGIN\r\n" + run + "\r\nEXCEPTION WHEN invalid_foreign_key THEN\r\nEXECUTE $q$" +
               unique + "$q$;\r\n" + run + "\r\nEND;\r\nEXCEPTION WHEN others THEN\r\nRAISE WARNING '%', '" + what +
               " was not created: ' || SQLERRM;\r\nEND\r\n$q1$;\r\n";
    };
    EXPECT_EQ(tail(start),
              guarded("ALTER TABLE \"orders\" ADD FOREIGN KEY(\"cust id\") REFERENCES \"shop\".\"customers\"(\"id\")",
                      "Foreign key '''' of table ''Orders''",
                      "CREATE UNIQUE INDEX \"uidx_id\" ON \"shop\".\"customers\"(\"id\")") +
                  guarded("ALTER TABLE \"orders\" ADD CONSTRAINT \"fk\"\"x\" FOREIGN KEY(\"a\", \"b\") REFERENCES "
                          "\"customers\"(\"c\", \"d\") ON DELETE SET NULL",
                          "Foreign key ''fk\"x'' of table ''Orders''",
                          "CREATE UNIQUE INDEX \"uidx_c_d\" ON \"customers\"(\"c\", \"d\")") +
                  "\r\n/*\r\nCreate sequences\r\n*/\r\n\r\n"
              "CREATE SEQUENCE IF NOT EXISTS \"shop\".\"seq\" INCREMENT 2 START 10 MINVALUE 1 MAXVALUE 99 CYCLE;\r\n"
              "ALTER TABLE \"shop\".\"orders\" DROP CONSTRAINT \"fk.one\";\r\n"
              "DROP INDEX IF EXISTS \"shop\".\"ix.name\";\r\n"
              "ALTER TABLE \"shop\".\"orders\" DROP CONSTRAINT \"primary\";\r\n");

    // With comments on, the keys get their heading.
    db = open(true);
    const std::size_t after_header = db->writer().bytes_written();
    db->create_relationships({key(L"k", L"a", L"b", {L"x"}, {L"y"}, L"")});
    db->close();
    EXPECT_EQ(tail(after_header),
              "\r\n/*\r\nCreate foreign key constraints\r\n*/\r\n\r\n" +
                  guarded("ALTER TABLE \"a\" ADD CONSTRAINT \"k\" FOREIGN KEY(\"x\") REFERENCES \"b\"(\"y\")",
                          "Foreign key ''k'' of table ''a''", "CREATE UNIQUE INDEX \"uidx_y\" ON \"b\"(\"y\")"));

    db = open(false);
    EXPECT_THROW(db->create_relationships({key(L"k", L"a", L"b", {L"x"}, {L"y"}, L"ON DELETE CASCADE) --")}),
                 pgs_exception);
}

TEST_F(pgs_relations_script, script_with_keys_sequences_and_views_loads_with_psql)
{
    {
        auto db = open(true);
        udb_indexes parent_idx;
        parent_idx.push_back(udb_index(L"PRIMARY", true, true, {L"Id"}));
        parent_idx.push_back(udb_index(L"ux_code", true, false, {L"Code/No"}));
        udb_schema parent = make_schema({{L"Id", VT_I4}, {L"Code/No", VT_I4}});
        udb_schema child = make_schema({{L"Id", VT_I4}, {L"Parent/Ref", VT_I4}, {L"Owner", VT_I4}});
        udb_indexes none;
        db->create_table1(L"Rel_Parent", parent, parent_idx);
        db->create_table1(L"Rel_Child", child, none);
        db->add_tn_mapping(L"SrcParent", L"public.Rel_Parent");
        db->add_tn_mapping(L"srcchild", L"public.Rel_Child");

        // The table lookups of a script ignore case: SRCCHILD finds srcchild.
        db->create_relationships({key(L"fk_cascade", L"SRCCHILD", L"SrcParent", {L"Parent/Ref"}, {L"Code/No"},
                                      L"ON DELETE CASCADE"),
                                  key(L"fk_plain", L"SrcChild", L"SrcParent", {L"Owner"}, {L"Id"}, L"")});
        db->create_sequences({udb_sequence(L"rel_seq", 100, 5, 1, 1000, false),
                              udb_sequence(L"rel_seq_c", 3, 1, 1, 4, true)});
        captured_reports reports;
        db->create_views({{L"rel_v/1", L"select `Id`, [code_no] from `Rel_Parent`"},
                          {L"rel_show", L"SHOW TABLES"},
                          {L"rel_cmd", L"select 1 \\! touch /tmp/never"},
                          {L"rel_v2", L"SELECT count(*) AS n FROM rel_child;"}});
        ASSERT_EQ(reports.prefixes.size(), 1u);
        EXPECT_EQ(reports.prefixes[0], L"View 'rel_cmd'");
        EXPECT_EQ(db->get_names_map().get_tn_mapped_name(L"rel_v/1", true), L"rel_v_1");
        db->close();
    }
    const std::string text = read_file(path);
    EXPECT_EQ(text.find("ON UPDATE CASCADE"), std::string::npos) << text;
    EXPECT_EQ(text.find("SHOW TABLES"), std::string::npos) << text;

    test_env::pg_scratch_db scratch("pgs_rel_script");
    std::string output;
    ASSERT_EQ(run_psql(scratch.name(), path, output), 0) << output << "\n" << text;

    pqxx::connection c(scratch.conninfo());
    pqxx::work tx(c);
    auto one = [&](const std::string& q) { return tx.exec(q).at(0).at(0).as<std::string>(); };
    EXPECT_EQ(one("SELECT pg_get_constraintdef(oid) FROM pg_constraint WHERE conname = 'fk_cascade'"),
              "FOREIGN KEY (parent_ref) REFERENCES rel_parent(code_no) ON DELETE CASCADE");
    EXPECT_EQ(one("SELECT confdeltype::text || confupdtype::text FROM pg_constraint WHERE conname = 'fk_plain'"),
              "aa");
    EXPECT_EQ(one("SELECT nextval('rel_seq') || ',' || nextval('rel_seq')"), "100,105");
    EXPECT_EQ(one("SELECT cycle::text FROM pg_sequences WHERE sequencename = 'rel_seq_c'"), "true");
    EXPECT_EQ(one("SELECT string_agg(viewname, ',' ORDER BY viewname) FROM pg_views WHERE schemaname = 'public'"),
              "rel_v2,rel_v_1");
    tx.exec("INSERT INTO rel_parent VALUES (1, 10), (2, 20); INSERT INTO rel_child VALUES (7, 20, 1)");
    EXPECT_EQ(one("SELECT string_agg(code_no::text, ',' ORDER BY id) FROM rel_v_1"), "10,20");
    EXPECT_EQ(one("SELECT n::text FROM rel_v2"), "1");
    EXPECT_THROW(tx.exec("DELETE FROM rel_parent WHERE id = 1"), pqxx::foreign_key_violation)
        << "fk_plain has no rule: the server's NO ACTION";
}

// The sequences and views a database reads when it is opened, written into a script that
// psql loads into another database.
TEST_F(pgs_relations_live, catalog_sequences_and_views_carried_into_a_script)
{
    sql("CREATE TABLE rel_rt (id int, flag boolean); INSERT INTO rel_rt VALUES (1, true), (2, false); "
        "CREATE SEQUENCE rel_rt_seq INCREMENT 4 START 40 MINVALUE 2 MAXVALUE 400 CYCLE; "
        "CREATE VIEW rel_rt_v AS SELECT id FROM rel_rt WHERE id > 1; SELECT 1");
    pgs_database opened(tk_utf8_to_unicode(s_db_name), L"public", 0, false);

    char tmpl[] = "/tmp/pgs_relations_rt_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const std::string path = std::string(tmpl) + "/rt.sql";
    {
        pgs_dump_options o;
        o.insert_comments = false;
        pgs_dmp_database script(tk_utf8_to_unicode(path), o);
        udb_schema cols = make_schema({{L"id", VT_I4}});
        udb_indexes none;
        script.create_table1(L"rel_rt", cols, none);
        // Only this test's objects: the suite's database holds those of the other tests too.
        std::vector<udb_sequence> sequences;
        for (const auto& q : opened.get_sequences())
            if (q.name.rfind(L"rel_rt", 0) == 0) sequences.push_back(q);
        udb_view_list views;
        for (const auto& v : opened.get_views())
            if (v.first.rfind(L"rel_rt", 0) == 0) views.push_back(v);
        ASSERT_EQ(sequences.size(), 1u);
        ASSERT_EQ(views.size(), 1u);
        script.create_sequences(sequences);
        script.create_views(views);
        script.close();
    }
    test_env::pg_scratch_db scratch("pgs_rel_rt");
    std::string output;
    ASSERT_EQ(run_psql(scratch.name(), path, output), 0) << output << "\n" << read_file(path);
    std::system(("rm -rf '" + std::string(tmpl) + "'").c_str());

    pqxx::connection c(scratch.conninfo());
    pqxx::work tx(c);
    EXPECT_EQ(tx.exec("SELECT nextval('rel_rt_seq') || ',' || nextval('rel_rt_seq')")[0][0].as<std::string>(),
              "40,44");
    EXPECT_EQ(tx.exec("SELECT cycle::text FROM pg_sequences WHERE sequencename = 'rel_rt_seq'")[0][0].as<std::string>(),
              "true");
    tx.exec("INSERT INTO rel_rt VALUES (1), (5)");
    EXPECT_EQ(tx.exec("SELECT string_agg(id::text, ',') FROM rel_rt_v")[0][0].as<std::string>(), "5");
}
