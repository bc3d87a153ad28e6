// Views keep their meaning: each view of the source, converted live and by a script loaded with
// psql -v ON_ERROR_STOP=1, returns the rows MySQL returns for it, or is refused and reported;
// none arrives changed. And a script always loads to its end.
#include <algorithm>
#include <cstdint>

#include "driver/driver_test_support.h"
#include "support/pg_scratch_db.h"
#include "support/psql_load.h"
#include "support/scratch_dir.h"

namespace {

using strings = std::vector<std::string>;

const std::string a63(63, 'a');
const std::string long_column(64, 'c');

// Tables whose names or columns the destination must change: folding (CaseT, caset), the
// 63-byte cut (two names equal in their first 63 bytes), characters PostgreSQL names refuse,
// a 64-character column, PostgreSQL's system column names, the PostGIS extension's table, and
// comment marks in column names.
std::string names_schema()
{
    return "CREATE TABLE t (id INT PRIMARY KEY, `x/*` INT, secret INT, `*/y` INT, p VARCHAR(10));"
           "INSERT INTO t VALUES (1, 1, 0, 1, 'a\\\\b'), (2, 1, 1, 1, 'ab'), (3, 0, 0, 0, 'c');"
           "CREATE TABLE t2 (id INT PRIMARY KEY); INSERT INTO t2 VALUES (10), (20);"
           "CREATE TABLE `CaseT` (v VARCHAR(10)); INSERT INTO `CaseT` VALUES ('upper');"
           "CREATE TABLE caset (v VARCHAR(10)); INSERT INTO caset VALUES ('lower');"
           "CREATE TABLE `" + a63 + "1` (v VARCHAR(10)); INSERT INTO `" + a63 + "1` VALUES ('first');"
           "CREATE TABLE `" + a63 + "2` (v VARCHAR(10)); INSERT INTO `" + a63 + "2` VALUES ('second');"
           "CREATE TABLE tq (`q\"x` INT, `it's` INT, `semi;colon` INT, `(paren)` INT, `per%cent` INT, `" +
           long_column + "` INT);"
           "INSERT INTO tq VALUES (1, 2, 3, 4, 5, 6);"
           "CREATE TABLE sys (id INT PRIMARY KEY, xmin INT, ctid INT, cmax INT, tableoid INT);"
           "INSERT INTO sys VALUES (1, 42, 43, 44, 45), (2, 52, 53, 54, 55);"
           "CREATE TABLE spatial_ref_sys (srid INT PRIMARY KEY, note VARCHAR(10));"
           "INSERT INTO spatial_ref_sys VALUES (4326, 'mine');"
           "CREATE TABLE w_src (id INT PRIMARY KEY, c INT, gone INT); INSERT INTO w_src VALUES (1, 7, 8);"
           "CREATE TABLE dated (id INT PRIMARY KEY, born DATE, stamp DATETIME(2), big INT, price DECIMAL(6,2));"
           "INSERT INTO dated VALUES (1, '2024-01-31', '2024-01-31 10:20:30.50', 2147483647, 1.50),"
           " (2, NULL, NULL, -5, NULL), (3, NULL, NULL, -2147483648, 0.25);"
           "CREATE TABLE nums (id INT PRIMARY KEY, g BIGINT, w DATETIME, t2 TIME(2), k ENUM('zz', 'aa', 'mm'),"
           " fl FLOAT);"
           "INSERT INTO nums VALUES (1, 15, '2024-01-31 10:20:30', '10:11:12.57', 'zz', 1.1),"
           " (2, -7, NULL, NULL, 'aa', 2.2), (3, NULL, '2000-01-01 00:00:00', '00:00:00', NULL, NULL);";
}

// One view of the table: its name in MySQL, its SELECT, and whether the conversion must refuse
// it. Every other view must return MySQL's rows.
struct view_case {
    std::string name;
    std::string select;
    bool refused = false;
};

std::vector<view_case> view_cases(const std::string& source_db)
{
    return {
        // Comment marks inside quoted names and literals are not comments.
        {"v_comment_names", "select id from t where `x/*` = 1 and secret = 0 and `*/y` = 1"},
        {"v_comment_literal", "select 'a/* note */b' as s"},
        {"v_comment_aliases", "select 1 as `a/*`, 2 as b, 3 as `*/c`"},
        // MySQL's backslash escapes are read as MySQL reads them.
        {"v_escape", "select concat('a','\\n','b') as s, length(concat('a','\\n','b')) as n"},
        {"v_backslash", "select id from t where p = 'a\\\\b'"},
        {"v_prefix_literal", "select 'db is `" + source_db + "`.t' as s"},
        // Tables and columns the destination renamed.
        {"v_case", "select v from caset"},
        {"v_case_upper", "select v from `CaseT`"},
        {"v_long_table", "select v from `" + a63 + "2`"},
        {"v_renamed_columns", "select `q\"x`, `it's`, `semi;colon`, `(paren)`, `per%cent`, `" + long_column + "` from tq"},
        {"v_system_columns", "select id, xmin, ctid, cmax, tableoid from sys"},
        {"v_derived", "select x.xmin, x.n from (select xmin, ctid + 1 as n from sys) x"},
        {"v_cte", "with c as (select id, ctid from sys) select c.id, c.ctid from c"},
        {"v_union", "select xmin from sys union select id from t"},
        {"v_correlated", "select id from t where exists (select 1 from sys s where s.xmin = t.id + 41)"},
        {"v_grouped", "select tableoid, count(*) as n from sys group by tableoid order by tableoid"},
        {"v_srs", "select note from spatial_ref_sys"},
        {"v_wizard", "select id, c from w_src"},
        // Views of their own names: V and v, and one whose name cut to 63 bytes is a table's.
        {"V", "select 1 as n"},
        {"v", "select 2 as n"},
        {"v_reads_upper", "select n from `V`"},
        {a63 + "3", "select 3 as n"},
        // The spellings PostgreSQL refuses that MySQL stores for plain SQL.
        {"v_cross", "select a.id, b.id as bid from t a cross join t2 b"},
        {"v_comma", "select a.id, b.id as bid from t a, t2 b where a.id < 3"},
        {"v_now", "select id from t where now() > '2000-01-01'"},
        {"v_divide", "select id, round(id / 2, 1) as half from t where id / 2 > 0.6"},
        // MySQL's CONCAT is NULL when an argument is (PostgreSQL's would skip it).
        {"v_concat_null", "select id, concat(p, '/', nullif(id, 2), concat(',', (id + 1))) as s, concat(id) as one from t"},
        // Functions whose PostgreSQL namesakes mean something else: LOG(x) is ln, VARIANCE
        // the population's; SUBSTR, LEFT and RIGHT read alike from a position of 1 or more.
        {"v_log_variance", "select id, log(id + 1) as l, (select round(variance(id), 4) from t) as v, "
                           "(select round(std(id), 4) from t) as s, (select round(stddev(id), 4) from t) as s2 from t"},
        {"v_substr", "select id, substr(p, 2) as s, substr(p, 1, 1) as s1, left(p, 1) as l, right(p, 0) as r from t"},
        // MySQL sorts NULL first (PostgreSQL last): ORDER BY ... LIMIT picks the same rows.
        {"v_order_nulls", "select id, nullif(id, 1) as n from t order by n limit 2"},
        {"v_limit_offset", "select id from t order by id limit 2 offset 1"},
        {"v_order_nulls_desc", "select id from t order by nullif(id, 3) desc, id limit 2"},
        {"v_window_nulls", "select id, row_number() over (order by nullif(id, 2)) as r from t"},
        // A window's frame follows its ORDER BY.
        {"v_window_frame", "select id, sum(id) over (order by nullif(id, 2) rows between 1 preceding and current row) "
                           "as s, first_value(id) over (order by nullif(secret, 0) desc range between unbounded "
                           "preceding and current row) as f from t"},
        // Refused where the result could differ: GREATEST with a NULL argument, SUBSTR from 0
        // or a negative position, LEFT with a negative length.
        {"v_greatest", "select greatest(id, nullif(id, 2)) as g from t", true},
        {"v_substr_zero", "select substr(p, 0) as s from t", true},
        {"v_substr_negative", "select substr(p, -1) as s from t", true},
        {"v_left_negative", "select left(p, -1) as l from t", true},
        {"v_format", "select format(p, 2) as f from t", true},
        // A division by zero is NULL; a truth value is 1 or 0; EXTRACT(SECOND) is whole, TRIM of
        // one character alike.
        {"v_zero_divisor", "select id, id / secret as q, (id + 1) / (secret - 1) as q2 from t"},
        {"v_truth", "select id, id > 1 as g, p is null as n, (id in (1, 3)) as i, id = 2 or secret = 1 as o, "
                    "exists (select 1 from t2 where t2.id > t.id) as e, true as tr from t"},
        {"v_truth_case", "select id, case when id > 1 then secret = 1 else 0 end as c from t"},
        {"v_percent", "select id, id / 3 * 100 as pct, avg(id) over () + 1 as a from t"},
        {"v_union_scale", "select id, price from dated union all select 7, 1 union all select 8, null"},
        {"v_truth_union", "select x.g from (select id > 1 as g from t) x where x.g = 1 union all select 5"},
        {"v_extract", "select id, extract(second from stamp) as s, extract(year from born) as y from dated"},
        {"v_trim_one", "select id, trim(leading 'a' from p) as s from t"},
        // MySQL adds and multiplies INT columns in 64 bits.
        {"v_wide", "select id, big + 1 as p, dated.big * 2 as m, 1 - big as s, sum(big + big) as t from dated group by id"},
        // A negated INT (its smallest value too) is a 64-bit integer.
        {"v_negate", "select id, -big as n, abs(big) as a, - dated.big - 1 as m from dated"},
        // MySQL cuts the current moment to the precision asked (PostgreSQL would round).
        {"v_now_cut", "select now(1) <= now(6) and now(2) <= now(6) and now(3) <= now(6) and now(4) <= now(6) and "
                      "now(5) <= now(6) and current_timestamp(2) <= now(6) and curtime(3) <= curtime(6) as c, "
                      "sysdate(2) >= now() as s, curdate() <= now() as d"},
        // STD and VARIANCE are doubles in MySQL, with 4 decimals more than an exact argument.
        {"v_deviation", "select round(std(big), 2) as v, std(big) as s, var_samp(price) as p, "
                        "stddev_samp(big) * 2 as d, variance(id + 0.5) + 1 as i from dated"},
        {"v_deviation_window", "select std(id) over () as s from t", true},
        // LPAD and RPAD: a negative length is NULL; a filler that may be empty is refused.
        {"v_pad", "select id, lpad(p, id - 2, 'xy') as l, rpad(concat(id, 'a'), 3, '-') as r from t"},
        {"v_pad_column", "select lpad(p, 5, p) as l from t", true},
        // YEAR, MONTH and DAY of a date column; IFNULL as COALESCE with MySQL's scale; a
        // quotient in CONCAT with MySQL's digits.
        {"v_date_parts", "select id, year(stamp) as y, month(stamp) as m, dayofmonth(born) as d, day(stamp) as d2, "
                         "cast(stamp as date) as c from dated"},
        {"v_ifnull", "select id, ifnull(price, 0) as a, ifnull(nullif(big, -5), 0.5) as b from dated"},
        {"v_concat_scale", "select concat(1.50, 'x') as a, concat(price, 'x') as b, concat(id / 3) as c, "
                           "concat_ws('-', avg(id), 1e0) as e from dated group by id"},
        // MariaDB returns groups in GROUP BY's order, NULL first: LIMIT picks the same ones.
        {"v_group_limit", "select nullif(secret, 0) as s, count(*) as n from t group by nullif(secret, 0) limit 1"},
        {"v_coalesce_scale", "select id, coalesce(cast(nullif(id, 2) as decimal(6,2)), 0) as c, "
                             "coalesce(price, 1) as p, coalesce(sum(price), 0) / 2 as h, "
                             "case when id > 1 then id else price end as k from dated group by id"},
        // A view read by another keeps its columns' kinds: a quotient's scale, 64-bit integers,
        // a date refused in + and -.
        {"v_dated_base", "select id, born, price * 2 as p2, big from dated"},
        {"v_over_view", "select id, p2 / 3 as q, big + 1 as w from v_dated_base"},
        {"v_over_view_date", "select id, born - 1 as d from v_dated_base", true},
        {"v_derived_date", "select x.born + 1 as d from (select born from dated) x", true},
        {"v_not_exists", "select id from t where not exists (select 1 from t2 where t2.id = t.id * 10)"},
        {"v_concat_truth", "select id, concat('x', id > 1) as s, concat_ws('-', p is null, id = 2) as w from t"},
        // MySQL computes 1e0, SQRT, EXP, LN, LOG and POW in doubles (PostgreSQL's numeric gives
        // other digits); LOG(B, X) is ln(X) / ln(B), NULL for a base of 1.
        {"v_doubles", "select id, 0.1e0 + 0.2e0 as f, 1e0 / 3 as q, price * 1.5e0 as m, sqrt(price) as r, "
                      "exp(price) as x, ln(price + 1) as l, log(price + 1) as l1, log10(price + 1) as t, "
                      "pow(price, 2) as p, power(2, 0.5) as p2, log(10, abs(big) + 993) as b, log(1, 8) as b1 "
                      "from dated"},
        // Outside their domain MySQL gives NULL where PostgreSQL fails: SQRT below 0, LN, LOG,
        // LOG2 (which PostgreSQL lacks) and LOG10 at 0 or below, LOG(B, X) for either so;
        // ACOS and ASIN outside -1..1; SUBSTR with a negative length gives ''.
        {"v_domain_null", "select id, sqrt(g) as r, sqrt(g - 15) as r0, ln(g) as l, log(g - 15) as l1, "
                          "log10(g) as t, log(g, 8) as b, log(2, g) as b2, log(2, log(2, g)) as b3, "
                          "log(-2, 8) as b4, substr('abcdef', 2, 2 - id) as s, "
                          "mid(concat('x', g), 1, nullif(id, 3) - 2) as s1, "
                          "mid('abc', 1, -1) as s2, substr('abcdef', 2, g * 1000000000) as s3, "
                          "substr('abcdef', 1, id / 2) as s4, sqrt(1 - ln(g)) as r1, "
                          "log2(g) as t2, log2(id * 8 - 8) as t3, log2(7) as t4, acos(id - 2) as a, "
                          "asin(g / 10) as a1, acos(1.5e0) as a2 from nums"},
        {"v_sqrt_random", "select sqrt(rand() - 0.5) as r from t", true},
        {"v_substr_random", "select substr(p, 1, floor(rand() * 3) - 1) as s from t", true},
        // MySQL computes FLOAT in doubles: FLOAT 1.1 * 1.1 is 1.210000052452088, its SUM a double.
        {"v_float", "select id, fl * fl as f2, fl + fl as s, - nums.fl * 2 as n from nums"},
        {"v_float_sum", "select sum(fl) as s, avg(fl) as a, max(fl) as m from nums"},
        {"v_float_base", "select id, fl from nums"},
        {"v_float_over", "select id, fl * fl as f2 from v_float_base"},
        // ROUND keeps an integer an integer (ROUND(15, 2) is 15).
        {"v_round_integer", "select id, round(g, 2) as a, round(id, 1) as b, round(15, 3) as c, round(g, -1) as e, "
                            "round(count(*), 2) as k, round(1.25, 3) as f from nums group by id"},
        {"v_round_computed", "select round(id, secret) as r from t", true},
        // MariaDB's TO_CHAR writes names otherwise; CAST AS TIME cuts a fraction of a second,
        // which PostgreSQL keeps: taken where there is none.
        {"v_to_char_numbers", "select id, to_char(stamp, 'YYYY-MM-DD HH24:MI:SS') as s from dated"},
        {"v_to_char_month", "select to_char(born, 'MONTH') as m from dated", true},
        {"v_time_whole", "select id, cast(w as time) as a, cast('10:11:12' as time) as c from nums"},
        {"v_time_fraction", "select cast(t2 as time(1)) as t from nums", true},
        {"v_time_literal", "select cast('10:11:12.57' as time) as t", true},
        // MySQL writes every fractional digit of the type into a text (.50), PostgreSQL not.
        {"v_concat_whole", "select nums.id, concat('at ', w) as a, concat_ws('/', w, born) as b from nums, dated "
                           "where nums.id = dated.id"},
        {"v_concat_fraction", "select concat(stamp, '') as s from dated", true},
        // A quotient in SUM, MIN, MAX, AVG, ABS, CASE or a scalar subquery keeps MySQL's scale.
        {"v_quotient_aggregates", "select avg(id / 2) as a, sum(id / 3) as s, max(id / 3) as m, min(-id / 7) as mi from t"},
        {"v_quotient_functions", "select id, length(p) / 2 as l, char_length(p) / 3 as c, year(stamp) / 7 as y "
                                 "from t join dated using (id)"},
        {"v_quotient_nested", "select id, abs(id / 3) as a, (select t2.id / 3 from t2 where t2.id = t.id * 10) as sq, "
                              "case when id > 1 then id / 3 end as c from t"},
        // MySQL sorts an ENUM by the values' place in the type ('zz' first), and compares it as text.
        {"v_enum_text", "select id, k from nums where k < 'b' or k is null"},
        {"v_enum_order", "select id, k from nums order by k limit 1", true},
        {"v_enum_alias", "select id, k as kk from nums order by kk", true},
        {"v_enum_window", "select id, row_number() over (order by k desc) as r from nums", true},
        {"v_enum_group", "select k, count(*) as c from nums group by k limit 1", true},
        // Regular expressions are another dialect (REGEXP_REPLACE replaces every match in MySQL).
        {"v_regexp_replace", "select regexp_replace(p, 'b', 'X') as r from t", true},
        {"v_regexp_substr", "select regexp_substr(p, 'q') as r from t", true},
        // Refused where MySQL reads otherwise: bit operators (unsigned 64-bit), a date in + or -
        // (a number), TRIM of several characters, EXTRACT(WEEK) (from Sunday).
        {"v_bits", "select id, ~id as n from t", true},
        {"v_date_plus", "select id, born + 1 as d from dated", true},
        {"v_stamp_minus", "select id from dated where stamp - stamp = 0", true},
        {"v_trim_two", "select trim(both 'ab' from p) as s from t", true},
        {"v_week", "select extract(week from born) as w from dated", true},
        // Refused and reported: a binary literal, a column the user left out.
        {"v_hex", "select 0x41 as h", true},
        {"v_wizard_gone", "select gone from w_src", true},
    };
}

class conversion_views_test : public driver_server_test, public ::testing::WithParamInterface<bool> {
protected:
    strings my_rows(const std::string& sql)
    {
        MYSQL* m = mysql_init(nullptr);
        auto my = test_env::mysql();
        mysql_options(m, MYSQL_SET_CHARSET_NAME, "utf8mb4");
        if (!mysql_real_connect(m, my.host.c_str(), my.user.c_str(), my.password.c_str(), source_name.c_str(),
                                my.port, nullptr, 0))
            throw std::runtime_error(mysql_error(m));
        if (mysql_real_query(m, sql.data(), sql.size()) != 0) throw std::runtime_error(mysql_error(m) + sql);
        strings out;
        MYSQL_RES* r = mysql_store_result(m);
        const unsigned n = mysql_num_fields(r);
        while (MYSQL_ROW row = mysql_fetch_row(r)) {
            std::string line;
            for (unsigned i = 0; i < n; ++i) {
                if (i) line += '|';
                line += row[i] ? row[i] : "NULL";
            }
            out.push_back(line);
        }
        mysql_free_result(r);
        mysql_close(m);
        std::sort(out.begin(), out.end());
        return out;
    }
    static strings pg_rows(const std::string& conninfo, const std::string& sql)
    {
        pqxx::connection c(conninfo);
        pqxx::nontransaction tx(c);
        strings out;
        for (const auto& row : tx.exec(sql)) {
            std::string line;
            for (std::size_t i = 0; i < row.size(); ++i) {
                if (i) line += '|';
                line += row[static_cast<int>(i)].is_null() ? "NULL" : row[static_cast<int>(i)].c_str();
            }
            out.push_back(line);
        }
        std::sort(out.begin(), out.end());
        return out;
    }
    // The destination name the run announced for a view, else its own folded.
    std::string pg_view_name(const std::string& view) const
    {
        const std::wstring said = L"View '" + tk_utf8_to_unicode(view) + L"' is converted as '";
        for (const std::wstring& line : hooks.lines)
            if (line.rfind(said, 0) == 0) {
                const std::wstring rest = line.substr(said.size());
                return tk_unicode_to_utf8(rest.substr(0, rest.find(L'\'')));
            }
        std::string folded = view;
        for (char& c : folded) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return folded.substr(0, 63);
    }
    static std::string quoted(const std::string& name)
    {
        std::string q = "\"";
        for (char c : name) q += c == '"' ? std::string("\"\"") : std::string(1, c);
        return q + "\"";
    }

    // Converts everything (all views), live or by script; answers the conninfo of the database
    // that holds the result, after a script was loaded with psql -v ON_ERROR_STOP=1.
    std::string convert(test_env::scratch_dir& dir, std::unique_ptr<test_env::pg_scratch_db>& loaded,
                        const std::string& before_load = std::string())
    {
        const std::string path = dir.path() + "/views.sql";
        if (GetParam()) {
            conv->b_direct = false;
            conv->set_destination(tk_utf8_to_unicode(path));
        }
        conv->convert_views = true;
        conv->check_dest();
        run();
        EXPECT_EQ(conv->outcome(), conversion_outcome::completed);
        if (!GetParam()) return test_env::pg_conninfo(dest_name);
        loaded = std::make_unique<test_env::pg_scratch_db>("qdrv_views_load");
        if (!before_load.empty()) {
            pqxx::connection c(loaded->conninfo());
            pqxx::nontransaction tx(c);
            tx.exec(before_load);
        }
        std::string said;
        EXPECT_EQ(test_env::run_psql(loaded->name(), path, said), 0) << said;
        psql_said = said;
        script_text = test_env::read_file(path);
        return loaded->conninfo();
    }

    std::string psql_said, script_text;
};

TEST_P(conversion_views_test, each_view_returns_the_rows_mysql_returns_or_is_refused_and_reported)
{
    source(names_schema());
    const std::vector<view_case> cases = view_cases(source_name);
    for (const view_case& v : cases) source("CREATE VIEW `" + v.name + "` AS " + v.select);
    // The user renames a table and a column and leaves another column out.
    pgs_native_type integer;
    integer.type = L"INTEGER";
    pgs_table_mutator* tm = conv->get_table_mutator2(L"w_src", L"w_dest");
    tm->update_field(L"c", L"renamed_c", integer);
    tm->update_field(L"gone", L"gone", integer)->set_status(udb_mutators::deleted);

    test_env::scratch_dir dir("qdrv_views");
    std::unique_ptr<test_env::pg_scratch_db> loaded;
    // A script goes into a database where the PostGIS extension keeps its own spatial_ref_sys.
    const std::string conninfo = convert(dir, loaded, GetParam() ? "CREATE EXTENSION postgis" : "");

    std::size_t refused = 0;
    for (const view_case& v : cases) {
        SCOPED_TRACE(v.name);
        if (v.refused) {
            ++refused;
            EXPECT_TRUE(contains(hooks.reports(), "View '" + v.name + "'"))
                << testing::PrintToString(hooks.reports());
            EXPECT_TRUE(pg_rows(conninfo, "SELECT 1 FROM pg_views WHERE viewname = '" + pg_view_name(v.name) + "'")
                            .empty());
            continue;
        }
        if (pg_rows(conninfo, "SELECT 1 FROM pg_views WHERE viewname = '" + pg_view_name(v.name) + "'").empty()) {
            ADD_FAILURE() << "not created: " << testing::PrintToString(hooks.reports());
            continue;
        }
        EXPECT_EQ(pg_rows(conninfo, "SELECT * FROM " + quoted(pg_view_name(v.name))),
                  my_rows("SELECT * FROM `" + v.name + "`"));
    }
    EXPECT_EQ(conv->failures.views.load(), refused) << testing::PrintToString(hooks.reports());

    // V and v are two views; the one named after the other got a name of its own, and so did
    // the view whose 63 bytes are a table's name.
    EXPECT_NE(pg_view_name("V"), pg_view_name("v"));
    EXPECT_NE(pg_view_name(a63 + "3"), a63);
    // The source's spatial_ref_sys is a table of its own; the extension's stays whole.
    EXPECT_TRUE(pg_rows(conninfo, "SELECT 1 FROM pg_tables WHERE tablename = 'spatial_ref_sys'").empty() ||
                !pg_rows(conninfo, "SELECT 1 FROM pg_extension WHERE extname = 'postgis'").empty());
    if (GetParam()) {
        EXPECT_EQ(script_text.find("DROP TABLE IF EXISTS \"public\".\"spatial_ref_sys\" "), std::string::npos);
        EXPECT_NE(pg_rows(conninfo, "SELECT count(*) > 1000 FROM spatial_ref_sys"), strings{"f"});
        EXPECT_EQ(psql_said.find("WARNING"), std::string::npos) << psql_said;
    }
}

TEST_F(driver_server_test, views_over_tables_a_later_run_keeps_read_their_renamed_columns)
{
    source("CREATE TABLE sys (id INT PRIMARY KEY, xmin INT, `q\"x` INT); INSERT INTO sys VALUES (1, 42, 7);"
           "CREATE VIEW v_sys AS SELECT id, xmin, `q\"x` FROM sys");
    conv->convert_views = true;
    conv->check_dest();
    run();
    ASSERT_EQ(conv->failures.views.load(), 0u) << testing::PrintToString(hooks.reports());
    // Mode 2 keeps the table; the view is made again over the columns the first run named.
    dest("DROP VIEW v_sys; INSERT INTO sys VALUES (2, 52, 8)");
    conv->set_mode(2);
    run();
    EXPECT_EQ(conv->failures.views.load(), 0u) << testing::PrintToString(hooks.reports());
    EXPECT_EQ(rows("SELECT * FROM v_sys ORDER BY id"), (strings{"1|42|7", "2|52|8"}));
}

INSTANTIATE_TEST_SUITE_P(forms, conversion_views_test, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& i) { return i.param ? "script" : "live"; });

// ---- a script loads to its end ------------------------------------------------------------

class script_guard_test : public conversion_views_test {};

// Text PostgreSQL keeps in a b-tree index only up to about 2700 bytes; MariaDB takes 3000 Latin-1
// characters. Letters in no pattern, so the index entry cannot be compressed below that.
std::string long_value()
{
    std::string v;
    std::uint32_t x = 12345;
    while (v.size() < 3000) {
        x = x * 1103515245u + 12345u;
        v += static_cast<char>('A' + (x >> 16) % 52 % 26 + ((x >> 24) % 2) * 32);
    }
    return v;
}

TEST_F(script_guard_test, a_refused_index_is_a_warning_and_the_script_loads_to_its_end)
{
    source("CREATE TABLE big (id INT PRIMARY KEY, v VARCHAR(3000) CHARACTER SET latin1, KEY kv (v));"
           "INSERT INTO big VALUES (1, '" + long_value() + "');"
           "CREATE TABLE later (id INT PRIMARY KEY); INSERT INTO later VALUES (5);"
           "CREATE VIEW v_later AS SELECT id FROM later");
    test_env::scratch_dir dir("qdrv_guard");
    const std::string path = dir.path() + "/guard.sql";
    conv->b_direct = false;
    conv->set_destination(tk_utf8_to_unicode(path));
    conv->convert_views = true;
    conv->check_dest();
    run();
    ASSERT_EQ(conv->outcome(), conversion_outcome::completed);

    test_env::pg_scratch_db loaded("qdrv_guard_load");
    std::string said;
    ASSERT_EQ(test_env::run_psql(loaded.name(), path, said), 0) << said;
    EXPECT_NE(said.find("Index 'kv' of table 'public.big' was not created"), std::string::npos) << said;
    // Everything after the refused index arrived: the table's row, the next table, the view.
    EXPECT_EQ(pg_rows(loaded.conninfo(), "SELECT count(*) FROM big"), strings{"1"});
    EXPECT_EQ(pg_rows(loaded.conninfo(), "SELECT id FROM v_later"), strings{"5"});
    EXPECT_EQ(pg_rows(loaded.conninfo(), "SELECT count(*) FROM pg_indexes WHERE tablename = 'big'"), strings{"1"});
}

TEST_F(script_guard_test, scripts_loaded_beside_other_tables_leave_their_indexes_alone)
{
    source("CREATE TABLE t_code (id INT PRIMARY KEY, code INT, UNIQUE KEY uq_code (code));"
           "INSERT INTO t_code VALUES (1, 10), (2, 20);"
           "CREATE TABLE t_other (id INT PRIMARY KEY, code INT, UNIQUE KEY uq_code (code));"
           "INSERT INTO t_other VALUES (3, 30)");
    test_env::scratch_dir dir("qdrv_foreign_idx");
    // Two scripts, each made as for a database of its own, both with a primary key and an
    // index uq_code, loaded into one database whose own table has an index uq_code.
    auto dump = [&](const std::wstring& table, const std::string& file) {
        conv->b_direct = false;
        conv->set_destination(tk_utf8_to_unicode(dir.path() + "/" + file));
        conv->selected_tables = {table};
        conv->check_dest();
        run();
        ASSERT_EQ(conv->outcome(), conversion_outcome::completed);
    };
    dump(L"t_code", "a.sql");
    dump(L"t_other", "b.sql");

    test_env::pg_scratch_db loaded("qdrv_foreign_idx_load");
    {
        pqxx::connection c(loaded.conninfo());
        pqxx::nontransaction tx(c);
        tx.exec("CREATE TABLE other (code int); CREATE UNIQUE INDEX uq_code ON other (code)");
    }
    for (const char* file : {"a.sql", "b.sql"}) {
        std::string said;
        ASSERT_EQ(test_env::run_psql(loaded.name(), dir.path() + "/" + file, said), 0) << file << "\n" << said;
        EXPECT_EQ(said.find("WARNING"), std::string::npos) << said;
    }
    const std::string indexes = "SELECT tablename || ':' || (indexdef LIKE '%UNIQUE%')::text || ':' || "
                                "regexp_replace(indexdef, '.*USING btree ', '') FROM pg_indexes "
                                "WHERE schemaname = 'public'";
    EXPECT_EQ(pg_rows(loaded.conninfo(), indexes),
              (strings{"other:true:(code)", "t_code:true:(code)", "t_code:true:(id)", "t_other:true:(code)",
                       "t_other:true:(id)"}));
    EXPECT_EQ(pg_rows(loaded.conninfo(), "SELECT indexname FROM pg_indexes WHERE tablename = 'other'"),
              strings{"uq_code"});
    EXPECT_EQ(pg_rows(loaded.conninfo(), "SELECT count(*) FROM pg_constraint WHERE contype = 'p' AND connamespace = 'public'::regnamespace"), strings{"2"});
}

}  // namespace
