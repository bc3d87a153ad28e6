// A view's names follow the names the run gave its tables and columns; a name that cannot be
// resolved with certainty refuses the view. No server: the names are given as a run gives them.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "pg_target/pgs_exception.h"
#include "pg_target/pgs_mutator.h"
#include "pg_target/pgs_view_text.h"

namespace {

struct names_fixture {
    names_fixture()
    {
        // t: xmin and "q"x" renamed by the destination; u: its xmin got another name than t's.
        add(L"t", L"t", {{L"id", L"\"id\""}, {L"xmin", L"\"x_min\""}, {L"q\"x", L"\"q_x\""}});
        add(L"u", L"u", {{L"id", L"\"id\""}, {L"xmin", L"\"xmin_2\""}});
        // d: a date column, which MySQL reads as a number in + and -.
        add(L"d", L"d", {{L"id", L"\"id\""}, {L"Born", L"\"born\""}}, nullptr, {L"Born"});
        // n: an integer, a decimal of 3 decimals and a double.
        add(L"n", L"n", {{L"i", L"\"i\""}, {L"dec", L"\"dec\""}, {L"f", L"\"f\""}}, nullptr, {},
            {{L"i", 0}, {L"dec", 3}}, {L"i"});
        // Two tables equal but for case: the second was renamed.
        add(L"CaseT", L"caset", {{L"v", L"\"v\""}});
        add(L"caset", L"caset00000", {{L"v", L"\"v\""}});
        // The user renamed w to w_dest, its column c to renamed_c, and left out gone.
        pgs_native_type integer;
        integer.type = L"INTEGER";
        mutator = std::make_unique<pgs_table_mutator>(L"w_dest");
        mutator->update_field(L"c", L"renamed_c", integer);
        mutator->update_field(L"gone", L"gone", integer)->set_status(udb_mutators::deleted);
        add(L"w", L"w_dest", {{L"id", L"\"id\""}, {L"renamed_c", L"\"renamed_c\""}}, mutator.get());
        pgs_view_names::relation view;
        view.source = L"vv";
        view.schema = L"public";
        view.name = L"vv00000";
        view.is_view = true;
        view.outputs = {L"n"};
        view.outputs_known = true;
        names.add(view);
    }
    void add(const std::wstring& source, const std::wstring& dest, udb_names_map::name_map columns,
             const pgs_table_mutator* m = nullptr, std::vector<std::wstring> dates = {},
             std::vector<std::pair<std::wstring, int>> exact = {}, std::vector<std::wstring> integers = {})
    {
        pgs_view_names::relation r;
        r.integers = std::move(integers);
        r.dates = std::move(dates);
        r.exact = std::move(exact);
        r.source = source;
        r.schema = L"public";
        r.name = dest;
        r.columns = std::move(columns);
        r.mutator = m;
        names.add(std::move(r));
    }
    std::unique_ptr<pgs_table_mutator> mutator;
    pgs_view_names names;
};

struct name_case {
    const char* label;
    const wchar_t* in;
    const wchar_t* out;  // nullptr: refused
};

class pgs_view_names_test : public ::testing::TestWithParam<name_case> {};

TEST_P(pgs_view_names_test, follows_the_destination_names_or_refuses)
{
    const name_case& c = GetParam();
    names_fixture f;
    if (c.out) {
        EXPECT_EQ(pgs_view_text(c.in, &f.names, false), std::wstring(c.out));
    } else {
        EXPECT_THROW(pgs_view_text(c.in, &f.names, false), pgs_exception);
    }
}

INSTANTIATE_TEST_SUITE_P(
    cases, pgs_view_names_test,
    ::testing::Values(
        name_case{"stored_form", L"select `t`.`xmin` AS `xmin`,`t`.`q\"x` AS `q\"x` from `t`",
                  L"select \"t\".\"x_min\" AS \"xmin\",\"t\".\"q_x\" AS \"q\"\"x\" from \"public\".\"t\""},
        // A renamed column that is a whole result column keeps its source name as the view's.
        name_case{"typed_form", L"select xmin, a.id from t a where a.xmin > 0",
                  L"select \"x_min\" AS \"xmin\", a.id from \"public\".\"t\" a where a.\"x_min\" > 0"},
        name_case{"renamed_for_case", L"select `v` from `caset` union select `v` from `CaseT`",
                  L"select \"v\" from \"public\".\"caset00000\" union select \"v\" from \"public\".\"caset\""},
        name_case{"derived_table", L"select `x`.`xmin` AS `m` from (select `t`.`xmin` AS `xmin` from `t`) `x`",
                  L"select \"x\".\"xmin\" AS \"m\" from (select \"t\".\"x_min\" AS \"xmin\" from \"public\".\"t\") \"x\""},
        name_case{"correlated", L"select id from u where exists (select 1 from t where t.xmin = u.xmin)",
                  L"select id from \"public\".\"u\" where exists (select 1 from \"public\".\"t\" where "
                  L"\"t\".\"x_min\" = \"u\".\"xmin_2\")"},
        name_case{"common_table_expression_shadows_a_table", L"with t as (select 1 as xmin) select xmin from t",
                  L"with t as (select 1 as xmin) select xmin from t"},
        name_case{"view_of_the_run", L"select `vv`.`n` AS `n` from `vv`",
                  L"select \"vv00000\".\"n\" AS \"n\" from \"public\".\"vv00000\""},
        name_case{"users_renames", L"select `w`.`c` AS `c` from `w`",
                  L"select \"w_dest\".\"renamed_c\" AS \"c\" from \"public\".\"w_dest\""},
        name_case{"order_by_result_column", L"select `t`.`id` AS `xmin` from `t` order by `xmin`",
                  L"select \"t\".\"id\" AS \"xmin\" from \"public\".\"t\" order by \"xmin\" NULLS FIRST"},
        name_case{"same_name_in_both", L"select `id` from `t` join `u` using (`id`)",
                  L"select \"id\" from \"public\".\"t\" join \"public\".\"u\" using (\"id\")"},
        // A table's date column in + or - is refused (a number in MySQL), wherever it is named.
        name_case{"date_column_elsewhere", L"select `d`.`id` + 1 AS `n`, `d`.`Born` AS `born` from `d` where `born` > '2024-01-01'",
                  L"select \"d\".\"id\" + 1 AS \"n\", \"d\".\"born\" AS \"born\" from \"public\".\"d\" where "
                  L"\"born\" > '2024-01-01'"},
        name_case{"date_plus_number", L"select `d`.`Born` + 1 AS `n` from `d`", nullptr},
        name_case{"number_minus_date", L"select 20240101 - born from d", nullptr},
        name_case{"date_minus_date_of_an_alias", L"select x.born - y.BORN from d x join d y using (id)", nullptr},
        name_case{"date_in_a_subquery", L"select id from t where exists (select 1 from d where -born < id)", nullptr},
        // A quotient or average of integers and decimals as a result column has MySQL's scale:
        // the dividend's and 4 (times 100: the same); of a double it is left alone.
        name_case{"quotients_and_averages",
                  L"select `n`.`i` / `n`.`dec` AS `a`, (`n`.`dec` / (`n`.`i` + 1)) AS `b`, -`i` / 2.50 AS `c`, "
                  L"(`dec` * `i` - 1) / 3 AS `d`, sum(`dec`) / count(0) AS `e`, avg(`i`) AS `g`, avg(`dec`) AS `h`, "
                  L"`f` / 2 AS `x`, `i` / `f` AS `y`, `i` / 3 * 100 AS `z`, avg(`f`) AS `w`, "
                  L"avg(distinct `dec`) over (partition by `i`) AS `o`, sum(distinct `i`) / 3 AS `p` from `n`",
                  L"select round(\"n\".\"i\" / nullif(\"n\".\"dec\" + 0.0, 0), 4) AS \"a\", "
                  L"round((\"n\".\"dec\" / nullif((\"n\".\"i\"::bigint + 1) + 0.0, 0)), 7) AS \"b\", "
                  L"round(-\"i\"::bigint / nullif(2.50 + 0.0, 0), 4) AS \"c\", "
                  L"round((\"dec\" * \"i\"::bigint - 1) / nullif(3 + 0.0, 0), 7) AS \"d\", "
                  L"round(sum(\"dec\") / nullif(count(0) + 0.0, 0), 7) AS \"e\", round(avg(\"i\"), 4) AS \"g\", "
                  L"round(avg(\"dec\"), 7) AS \"h\", \"f\" / nullif(2 + 0.0, 0) AS \"x\", "
                  L"\"i\" / nullif(\"f\" + 0.0, 0) AS \"y\", round(\"i\" / nullif(3 + 0.0, 0) * 100, 4) AS \"z\", "
                  L"avg(\"f\") AS \"w\", round(avg(distinct \"dec\") over (partition by \"i\"), 7) AS \"o\", "
                  L"round(sum(distinct \"i\") / nullif(3 + 0.0, 0), 4) AS \"p\" from \"public\".\"n\""},
        // COALESCE of integers and decimals has the largest scale of its arguments.
        name_case{"coalesce_scales",
                  L"select coalesce(`dec`, 0) AS `a`, coalesce(sum(`dec`), `i`) + 1 AS `b`, coalesce(`i`, 0) AS `c`, "
                  L"coalesce(`f`, 0.5) AS `d`, coalesce(`dec`, 1.500) AS `e`, coalesce(`i`, 2.5) / 2 AS `g` from `n`",
                  L"select round(coalesce(\"dec\", 0), 3) AS \"a\", round(coalesce(sum(\"dec\"), \"i\"), 3) + 1 AS \"b\", "
                  L"coalesce(\"i\", 0) AS \"c\", coalesce(\"f\", 0.5) AS \"d\", coalesce(\"dec\", 1.500) AS \"e\", "
                  L"round(round(coalesce(\"i\", 2.5), 1) / nullif(2 + 0.0, 0), 5) AS \"g\" from \"public\".\"n\""},
        // Through derived tables and common table expressions (not under a list of their own
        // names); a derived table's quotient goes on unrounded, as in MySQL.
        name_case{"date_through_a_derived_table", L"select x.born + 1 from (select born from d) x", nullptr},
        name_case{"date_through_a_cte", L"with c as (select born from d) select born - 1 from c", nullptr},
        name_case{"cte_with_its_own_names", L"with c(born) as (select id from d) select born + 1 from c",
                  L"with c(born) as (select id from \"public\".\"d\") select born + 1 from c"},
        name_case{"quotients_within",
                  L"select x.q, x.s / 2 AS h, x.k * 2 AS k from (select i / 3 as q, sum(`dec` * i) as s, i as k from n) x",
                  L"select x.q, round(x.s / nullif(2 + 0.0, 0), 7) AS h, x.k::bigint * 2 AS k from (select i / "
                  L"nullif(3 + 0.0, 0) as q, sum(\"dec\" * i::bigint) as s, i as k from \"public\".\"n\") x"},
        name_case{"case_scales",
                  L"select case when `i` > 0 then `i` when `i` < 0 then NULL else `dec` end AS `a`, "
                  L"case `i` when 1 then `f` else `dec` end AS `b`, case when `i` > 0 then 1 else 2 end AS `c` from `n`",
                  L"select round(case when \"i\" > 0 then \"i\" when \"i\" < 0 then NULL else \"dec\" end, 3) AS \"a\", "
                  L"case \"i\" when 1 then \"f\" else \"dec\" end AS \"b\", case when \"i\" > 0 then 1 else 2 end AS "
                  L"\"c\" from \"public\".\"n\""},
        name_case{"union_scales",
                  L"select `i` AS `a`, `f` AS `b`, NULL AS `c` from `n` union all select `dec`, 1, 2.5 from `n` "
                  L"union select 1 / 3, 2, 3",
                  L"select round(\"i\", 4) AS \"a\", \"f\" AS \"b\", NULL AS \"c\" from \"public\".\"n\" union all "
                  L"select round(\"dec\", 4), 1, 2.5 from \"public\".\"n\" union select round(1 / nullif(3 + 0.0, 0), 4), 2, "
                  L"round(3, 1)"},
        // An integer column beside + - * is bigint (MySQL's 64 bits); not a sign, a decimal or t.*.
        name_case{"wide_integers", L"select `n`.`i` + 1 AS `a`, 2 * `i` AS `b`, -`i` AS `c`, `dec` - 1 AS `d`, "
                                   L"`n`.* from `n` where (`i` - `i`) * 3 > 0",
                  L"select \"n\".\"i\"::bigint + 1 AS \"a\", 2 * \"i\"::bigint AS \"b\", -\"i\"::bigint AS \"c\", "
                  L"\"dec\" - 1 AS \"d\", \"n\".* from \"public\".\"n\" where (\"i\"::bigint - \"i\"::bigint) * 3 > 0"},
        // IFNULL is COALESCE where its result is written alike (the scales told); YEAR and the
        // like only of a date column; LPAD's length is NULL below 0; ABS of an INT is 64-bit.
        name_case{"ifnull_year_lpad",
                  L"select ifnull(`dec`, 0) AS `a`, ifnull(`f`, 1) AS `b`, ifnull(`f`, 'x') AS `c`, year(`i`) AS `y`, "
                  L"lpad(`f`, `i`, 'ab') AS `l`, abs(`n`.`i`) AS `s` from `n`",
                  L"select round(coalesce(\"dec\", 0), 3) AS \"a\", ifnull(\"f\", 1) AS \"b\", "
                  L"ifnull(\"f\", 'x') AS \"c\", year(\"i\") AS \"y\", "
                  L"lpad(\"f\", nullif(greatest(\"i\", -1), -1)::int, 'ab') AS \"l\", "
                  L"abs(\"n\".\"i\"::bigint) AS \"s\" from \"public\".\"n\""},
        name_case{"year_of_a_date", L"select year(`born`) AS `y`, day(`d`.`born`) AS `d` from `d`",
                  L"select date_part('year', (\"born\")::timestamp)::int AS \"y\", "
                  L"date_part('day', (\"d\".\"born\")::timestamp)::int AS \"d\" from \"public\".\"d\""},
        name_case{"lpad_of_a_column_filler", L"select lpad(`id`, 3, `id`) from `t`", nullptr},
        // STD and VARIANCE of an exact argument are computed in doubles; of another (a double,
        // a text the server refuses) as it is.
        name_case{"deviations", L"select std(`i`) AS `s`, var_samp(`f`) AS `v` from `n`",
                  L"select round(stddev_pop((\"i\")::float8)::text::numeric, 4) AS \"s\", "
                  L"var_samp(\"f\")::text::numeric AS \"v\" from \"public\".\"n\""},
        name_case{"deviation_over_a_window", L"select std(`i`) over () from `n`", nullptr},
        // Refused: what cannot be resolved with certainty.
        name_case{"table_not_converted", L"select 1 from `nope`", nullptr},
        name_case{"column_not_there", L"select `t`.`nope` from `t`", nullptr},
        name_case{"column_nowhere", L"select `nope` from `t`", nullptr},
        name_case{"column_of_two_names", L"select `xmin` from `t` join `u` on `t`.`id` = `u`.`id`", nullptr},
        name_case{"unknown_qualifier", L"select `z`.`id` from `t`", nullptr},
        name_case{"another_database", L"select 1 from `other`.`t`", nullptr},
        name_case{"column_of_another_database", L"select `other`.`t`.`id` from `t`", nullptr},
        name_case{"column_left_out", L"select `w`.`gone` from `w`", nullptr},
        name_case{"function_of_another_database", L"select `other`.`f`(1)", nullptr},
        name_case{"natural_join_over_renamed_columns", L"select 1 from t natural join u", nullptr},
        name_case{"view_column_not_there", L"select `x` from `vv`", nullptr}),
    [](const ::testing::TestParamInfo<name_case>& info) { return std::string(info.param.label); });

// A view's result columns keep their kinds for the views that read it: dates (refused in + and
// -), integers (bigint in + - *) and decimals of MySQL's scale (quotients rounded to it).
TEST(pgs_view_names, a_view_read_by_another_keeps_its_columns_kinds)
{
    names_fixture f;
    const std::wstring text = L"select `n`.`i` AS `i`, `n`.`dec` * 2 AS `d2`, `n`.`dec` / 3 AS `q`, avg(`n`.`i`) AS `a`, "
                              L"`n`.`f` AS `f`, `d`.`born` AS `b`, cast(`n`.`i` as date) AS `cd` from `n` join `d`";
    pgs_view_names::relation view;
    view.source = L"kinds";
    view.schema = L"public";
    view.name = L"kinds";
    view.is_view = true;
    view.outputs_known = pgs_view_outputs(text, view.outputs);
    pgs_view_output_kinds(text, &f.names, false, view);
    EXPECT_EQ(view.dates, (std::vector<std::wstring>{L"b", L"cd"}));
    EXPECT_EQ(view.integers, std::vector<std::wstring>{L"i"});
    EXPECT_EQ(view.exact, (std::vector<std::pair<std::wstring, int>>{{L"i", 0}, {L"d2", 3}, {L"q", 7}, {L"a", 4}}));
    f.names.add(view);

    EXPECT_EQ(pgs_view_text(L"select `i` + 1 AS `w`, `q` / 2 AS `h`, `d2` / 2 AS `k` from `kinds`", &f.names, false),
              L"select \"i\"::bigint + 1 AS \"w\", round(\"q\" / nullif(2 + 0.0, 0), 11) AS \"h\", "
              L"round(\"d2\" / nullif(2 + 0.0, 0), 7) AS \"k\" from \"public\".\"kinds\"");
    EXPECT_THROW(pgs_view_text(L"select `b` + 1 AS `x` from `kinds`", &f.names, false), pgs_exception);
    EXPECT_THROW(pgs_view_text(L"select 1 - `kinds`.`cd` AS `x` from `kinds`", &f.names, false), pgs_exception);
}

TEST(pgs_view_names, taken_names_include_the_runs_and_postgis)
{
    names_fixture f;
    EXPECT_TRUE(f.names.is_taken(L"public", L"caset00000"));
    EXPECT_TRUE(f.names.is_taken(L"public", L"spatial_ref_sys"));
    EXPECT_FALSE(f.names.is_taken(L"sales", L"spatial_ref_sys"));
    EXPECT_FALSE(f.names.is_taken(L"public", L"free"));
    bool ambiguous = false;
    EXPECT_EQ(f.names.find(L"CASET", ambiguous), nullptr);
    EXPECT_TRUE(ambiguous);
    ASSERT_NE(f.names.find(L"W", ambiguous), nullptr);
    EXPECT_EQ(f.names.find(L"W", ambiguous)->name, L"w_dest");
}

}  // namespace
