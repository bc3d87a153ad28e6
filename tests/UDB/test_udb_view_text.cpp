// The one reader of MySQL view text: its tokens, and what it says each name stands for.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TK/tk_strings.h"
#include "UDB/udb_view_text.h"

namespace {

// Tokens other than blanks as kind:value, control characters written as \xNN.
std::string token_list(const std::wstring& text)
{
    std::string out;
    for (const udb_token& t : udb_view_tokens(text)) {
        if (t.kind == udb_token_kind::space) continue;
        static const char* const kinds[] = {"", "comment", "w", "n", "s", "#", "b", "y"};
        if (!out.empty()) out += ' ';
        out += kinds[static_cast<int>(t.kind)];
        out += ':';
        for (wchar_t c : t.kind == udb_token_kind::comment ? t.text : t.value) {
            if (c < 0x20) {
                char hex[8];
                std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned>(c));
                out += hex;
            } else {
                out += tk_unicode_to_utf8(std::wstring(1, c));
            }
        }
        if (!t.closed) out += "(open)";
        if (t.executable) out += "(code)";
    }
    return out;
}

struct token_case {
    const char* label;
    const wchar_t* text;
    const char* tokens;
};

class udb_view_tokens_test : public ::testing::TestWithParam<token_case> {};

TEST_P(udb_view_tokens_test, reads_as_mysql_does)
{
    const token_case& c = GetParam();
    EXPECT_EQ(token_list(c.text), c.tokens);
    // The texts of the tokens give the text back.
    std::wstring joined;
    for (const udb_token& t : udb_view_tokens(c.text)) joined += t.text;
    EXPECT_EQ(joined, std::wstring(c.text));
}

INSTANTIATE_TEST_SUITE_P(
    cases, udb_view_tokens_test,
    ::testing::Values(
        token_case{"names", L"`a``b`.c [x y] `x/*`", "n:a`b y:. w:c n:x y n:x/*"},
        token_case{"strings", L"'it\\'s' \"q\"\"q\" 'a''b' N'n' '/* no */'", "s:it's s:q\"q s:a'b s:n s:/* no */"},
        token_case{"escapes", L"'\\n\\t\\0\\Z\\b\\r\\\\\\%\\_\\x'", "s:\\x0A\\x09\\x00\\x1A\\x08\\x0D\\\\%\\_x"},
        token_case{"comments", L"1--1 -- c\n# x\n/* y */ /*!50001 z */ /*M! w */ -\t-",
                   "#:1 y:- y:- #:1 comment:-- c comment:# x comment:/* y */ comment:/*!50001 z */(code) "
                   "comment:/*M! w */(code) y:- y:-"},
        token_case{"numbers_and_binary", L"0x4F X'4F' b'01' 0b01 0xZZ 1e3 1.5e-2 .5 1abc t.5",
                   "b:0x4F b:X'4F' b:b'01' b:0b01 w:0xZZ #:1e3 #:1.5e-2 #:.5 w:1abc w:t y:. #:5"},
        token_case{"symbols", L"a<=>b||c;\\", "w:a y:< y:= y:> w:b y:| y:| w:c y:; y:\\"},
        token_case{"open_string", L"select 'abc", "w:select s:abc(open)"},
        token_case{"open_name", L"select `abc", "w:select n:abc(open)"},
        token_case{"open_comment", L"select /* x", "w:select comment:/* x(open)"},
        token_case{"lone_bracket", L"a [ b", "w:a y:[ w:b"}),
    [](const ::testing::TestParamInfo<token_case>& info) { return std::string(info.param.label); });

// Every name as role:part.part (columns with their clause), then the joins as
// join(modifier,condition).
std::string roles(const std::wstring& text)
{
    const udb_view_reader reader(text);
    std::string out;
    static const char* const role_names[] = {"table", "alias", "column", "output", "function", "other"};
    static const char* const clauses[] = {"", "select", "from", "on", "where", "group", "having", "order", "other"};
    for (const udb_view_name& n : reader.names()) {
        if (!out.empty()) out += ' ';
        out += role_names[static_cast<int>(n.role)];
        out += ':';
        for (std::size_t k = 0; k < n.parts.size(); ++k) {
            if (k) out += '.';
            out += tk_unicode_to_utf8(reader.tokens()[n.parts[k]].value);
        }
        if (n.role == udb_name_role::column) {
            out += '/';
            out += clauses[static_cast<int>(n.clause)];
        }
        if (n.whole_item) out += "(item)";
    }
    for (const udb_view_join& j : reader.joins()) {
        out += " join(";
        out += j.modifier == std::wstring::npos ? "" : tk_unicode_to_utf8(reader.tokens()[j.modifier].text);
        out += j.has_condition ? ",on" : "";
        out += j.natural ? ",natural" : "";
        out += j.outer ? ",outer" : "";
        out += ")";
    }
    return out;
}

struct role_case {
    const char* label;
    const wchar_t* text;
    const char* roles;
};

class udb_view_reader_test : public ::testing::TestWithParam<role_case> {};

TEST_P(udb_view_reader_test, tells_what_each_name_stands_for)
{
    EXPECT_EQ(roles(GetParam().text), GetParam().roles);
}

INSTANTIATE_TEST_SUITE_P(
    cases, udb_view_reader_test,
    ::testing::Values(
        // As the server stores them.
        role_case{"stored", L"select `db`.`t`.`c` AS `c`,`db`.`t`.`d` from `db`.`t` where `db`.`t`.`c` > 1",
                  "column:db.t.c/select output:c column:db.t.d/select(item) table:db.t column:db.t.c/where"},
        role_case{"stored_join", L"select `a`.`id` AS `id` from (`t` `a` join `t2` `b` on(`a`.`id` = `b`.`id`)) join `t3`",
                  "column:a.id/select output:id table:t alias:a table:t2 alias:b column:a.id/on column:b.id/on "
                  "table:t3 join(,on) join()"},
        role_case{"join_kinds", L"select 1 from a cross join b inner join c left outer join d on x natural join e",
                  "table:a table:b table:c table:d column:x/on table:e join(cross) join(inner) join(,on,outer) "
                  "join(,natural)"},
        role_case{"typed", L"select a x, t.b as y, count(*) n, f(c) from t, u v group by c order by n",
                  "column:a/select output:x column:t.b/select output:y function:count output:n function:f "
                  "column:c/select table:t table:u alias:v column:c/group column:n/order"},
        role_case{"derived_and_subquery",
                  L"select x.n from (select 1 as n) x where x.n in (select m from u where u.k = x.n)",
                  "column:x.n/select(item) output:n alias:x column:x.n/where column:m/select(item) table:u "
                  "column:u.k/where column:x.n/where"},
        role_case{"with", L"with c (k) as (select 1) select k from c",
                  "output:c output:k column:k/select(item) table:c"},
        role_case{"from_inside_functions", L"select extract(day from d), trim(leading 'a' from p) from t",
                  "function:extract column:d/select function:trim column:p/select table:t"},
        role_case{"windows", L"select row_number() over (partition by p order by q) as r from t window w as (order by q)",
                  "function:row_number column:p/select column:q/select output:r table:t other:w column:q/other"},
        role_case{"star", L"select t.*, * from t", "column:t.*/select(item) table:t"},
        role_case{"literals_are_no_names", L"select 'from x', `y` from `t`", "column:y/select(item) table:t"}),
    [](const ::testing::TestParamInfo<role_case>& info) { return std::string(info.param.label); });

TEST(udb_view_reader, result_columns_of_the_view)
{
    auto outputs = [](const std::wstring& text) {
        const udb_view_reader r(text);
        std::string out = r.main_scope() < 0 ? "none" : "";
        if (r.main_scope() < 0) return out;
        const udb_view_scope& s = r.scopes()[static_cast<std::size_t>(r.main_scope())];
        for (const std::wstring& o : s.outputs) out += tk_unicode_to_utf8(o) + ",";
        return out + (s.outputs_known ? "known" : "unknown");
    };
    EXPECT_EQ(outputs(L"select `t`.`a` AS `x`, b, `t`.`c` from t"), "x,b,c,known");
    EXPECT_EQ(outputs(L"with c as (select 1 as z) select z as y from c"), "y,known");
    EXPECT_EQ(outputs(L"(select 1 as a) union (select 2)"), "a,known");
    EXPECT_EQ(outputs(L"select a + 1, t.* from t"), ",,unknown");
    EXPECT_EQ(outputs(L"show tables"), "none");
}

}  // namespace
