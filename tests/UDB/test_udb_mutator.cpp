// The generic mutators over a small native type of the test's own, so that the
// rewriting rules and the "Type Mappings" layout are checked apart from any
// destination engine.
#include <gtest/gtest.h>

#include <sstream>

#include "TK/tk_strings.h"
#include "UDB/udb_db_mutator.h"
#include "UDB/udb_mutator.h"
#include "UDB/udb_recordset.h"

namespace {

struct test_native_type {
    std::wstring type;
    std::wstring default_value;
    std::wstring character_set;
    std::uint64_t length = 0;
    std::int32_t scale = 0;
    std::int32_t precision = 0;
};

}  // namespace

template <>
struct udb_native_type_traits<test_native_type> {
    static VARTYPE udb_type(const test_native_type& n)
    {
        if (n.type == L"SMALLINT") return VT_I2;
        if (n.type == L"INTEGER") return VT_I4;
        if (n.type == L"BIGINT") return VT_I8;
        if (n.type == L"REAL") return VT_R4;
        if (n.type == L"BOOLEAN") return VT_BOOL;
        return VT_BSTR;
    }
    static std::wstring type_text(const test_native_type& n)
    {
        return n.type == L"VARCHAR" ? n.type + L"(" + std::to_wstring(n.length) + L")" : n.type;
    }
    static std::wstring name_only_type(const t_ftd& c) { return c.vartype == VT_DECIMAL ? L"DECIMAL" : L"TEXT"; }
    static std::wstring default_expression(const t_ftd& c) { return c.default_value.to_wstring(); }
};

namespace {

using test_field_mutator = udb_field_mutator<udb_field, test_native_type>;
using test_table_mutator = udb_table_mutator<test_field_mutator>;
inline constexpr char test_map[] = "test.map";
inline constexpr char test_typ[] = "test.typ";
using test_db_mutator = udb_db_mutator<test_table_mutator, test_map, test_typ>;

test_native_type native(std::wstring type, std::uint64_t length = 0, std::wstring def = L"",
                        std::int32_t precision = 0, std::int32_t scale = 0, std::wstring charset = L"")
{
    return {std::move(type), std::move(def), std::move(charset), length, scale, precision};
}

std::shared_ptr<t_ftd> column(std::wstring name, VARTYPE vt, std::uint32_t size, bool auto_inc = false)
{
    return std::make_shared<t_ftd>(size, std::move(name), vt, false, auto_inc);
}

// A database mutator as one comparable text: properties, tables, fields.
std::wstring describe(test_db_mutator& db)
{
    std::wostringstream out;
    for (const auto& [k, v] : db.get_properties())
        out << L"db." << k << L"=" << v << L";";
    for (const auto& [source, tm] : db.get_table_mutators()) {
        out << source << L"->" << tm->get_new_name() << L"{";
        for (const auto& [name, fm] : tm->get_field_mutators()) {
            const auto& n = fm->get_native_type();
            out << name << L"->" << fm->get_new_name() << L":" << static_cast<int>(fm->get_status()) << L":"
                << n.type << L"," << n.default_value << L"," << n.character_set << L"," << n.length << L","
                << n.scale << L"," << n.precision << L"," << fm->get_variant_type() << L";";
        }
        for (const auto& [k, v] : tm->get_properties())
            out << k << L"=" << v << L";";
        out << L"}";
    }
    return out.str();
}

bool load_lines(test_db_mutator& db, const std::vector<std::wstring>& lines)
{
    udb_profile profile;
    for (const auto& line : lines)
        profile.add_list_item(udb_type_mappings_list, line);
    return db.load(profile);
}

// --- "Type Mappings" layout --------------------------------------------------

class type_mappings : public ::testing::Test {
protected:
    void SetUp() override
    {
        db.get_properties()[L"engine"] = L"InnoDB";
        db.get_properties()[L"character set"] = L"utf8mb4";
        auto* orders = db.get_table_mutator2(L"Orders", L"orders_new");
        orders->update_field(L"Id", L"order_id", native(L"BIGINT"));
        orders->update_field(L"note", L"note", native(L"VARCHAR", 40, L"'n/a=none: yet'", 0, 0, L"UTF8"));
        orders->update_field(L"legacy", L"legacy", native(L""))->set_status(udb_mutators::deleted);
        orders->update_field(L"amount", L"amount", native(L"DECIMAL", 0, L"0", 12, 2));
        orders->get_properties()[L"engine"] = L"MyISAM";
        auto* items = db.get_table_mutator2(L"items", L"items");
        items->update_field(L"flag", L"is_set", native(L"BOOLEAN", 0, L"true"));
    }
    test_db_mutator db;
};

TEST_F(type_mappings, store_writes_the_indented_layout)
{
    udb_profile profile;
    ASSERT_TRUE(db.store(profile));
    const std::vector<std::wstring> expected = {
        L"database:",
        L"  character set: utf8mb4",
        L"  engine: InnoDB",
        L"tables:",
        L"  - name: Orders",
        L"    new_name: orders_new",
        L"    fields:",
        L"      - name:Id",
        L"        new_name: order_id",
        L"        status: changed",
        L"        type: BIGINT",
        L"        default_value: ",
        L"        character_set: ",
        L"        length: 0",
        L"        scale: 0",
        L"        precision: 0",
        L"      - name:amount",
        L"        new_name: amount",
        L"        status: changed",
        L"        type: DECIMAL",
        L"        default_value: 0",
        L"        character_set: ",
        L"        length: 0",
        L"        scale: 2",
        L"        precision: 12",
        L"      - name:legacy",
        L"        new_name: legacy",
        L"        status: deleted",
        L"        type: ",
        L"        default_value: ",
        L"        character_set: ",
        L"        length: 0",
        L"        scale: 0",
        L"        precision: 0",
        L"      - name:note",
        L"        new_name: note",
        L"        status: changed",
        L"        type: VARCHAR",
        L"        default_value: 'n/a=none: yet'",
        L"        character_set: UTF8",
        L"        length: 40",
        L"        scale: 0",
        L"        precision: 0",
        L"    properties:",
        L"        engine: MyISAM",
        L"  - name: items",
        L"    new_name: items",
        L"    fields:",
        L"      - name:flag",
        L"        new_name: is_set",
        L"        status: changed",
        L"        type: BOOLEAN",
        L"        default_value: true",
        L"        character_set: ",
        L"        length: 0",
        L"        scale: 0",
        L"        precision: 0",
    };
    EXPECT_EQ(profile.get_list(udb_type_mappings_list), expected);
}

TEST_F(type_mappings, loads_back_exactly_through_a_profile_file)
{
    udb_profile out;
    ASSERT_TRUE(db.store(out));
    const std::wstring path = tk_utf8_to_unicode(::testing::TempDir()) + L"type_mappings.profile";
    ASSERT_TRUE(out.store(path));

    udb_profile in;
    ASSERT_TRUE(in.load(path));
    test_db_mutator loaded;
    loaded.get_table_mutator2(L"stale", L"gone");  // load replaces what was there
    ASSERT_TRUE(loaded.load(in));
    EXPECT_EQ(describe(loaded), describe(db));
    EXPECT_EQ(loaded.get_table_mutator3(L"Orders")->get_field_mutator(L"legacy")->get_status(),
              udb_mutators::deleted);

    // And the loaded mutator writes the very same lines again.
    udb_profile again;
    loaded.store(again);
    EXPECT_EQ(again.get_list(udb_type_mappings_list), out.get_list(udb_type_mappings_list));
}

struct load_case {
    const char* what;
    std::vector<std::wstring> lines;
    bool result;
    std::wstring description;  // describe() of the loaded mutator
};

std::ostream& operator<<(std::ostream& os, const load_case& c) { return os << c.what; }

class type_mappings_load : public ::testing::TestWithParam<load_case> {};

TEST_P(type_mappings_load, reads_the_section)
{
    const load_case& c = GetParam();
    test_db_mutator db;
    db.get_table_mutator2(L"old", L"old");
    EXPECT_EQ(load_lines(db, c.lines), c.result);
    EXPECT_EQ(describe(db), c.description);
}

const std::wstring empty_native = L",,,0,0,0,8;";  // no type: values travel as text

INSTANTIATE_TEST_SUITE_P(
    cases, type_mappings_load,
    ::testing::ValuesIn(std::vector<load_case>{
        {"empty section", {}, true, L""},
        {"renamed table without fields",
         {L"database:", L"tables:", L"  - name: t1", L"    new_name: t2"}, true, L"t1->t2{}"},
        {"new_name after fields is refused",
         {L"tables:", L"  - name: t1", L"    fields:", L"    new_name: t2"}, false, L""},
        {"new_name after properties is refused",
         {L"tables:", L"  - name: t1", L"    properties:", L"    new_name: t2"}, false, L""},
        {"missing or empty new_name keeps the source name",
         {L"tables:", L"  - name: a", L"    new_name:", L"  - name: b", L"    fields:", L"      - name:x",
          L"        type: INTEGER"},
         true, L"a->a{}b->b{x->x:1:INTEGER,,,0,0,0,3;}"},
        {"a field without attribute lines makes no field mutator",
         {L"tables:", L"  - name: t", L"    new_name: t", L"    fields:", L"      - name:x"}, true, L"t->t{}"},
        {"status deleted alone makes a deleted field mutator",
         {L"tables:", L"  - name: t", L"    new_name: t", L"    fields:", L"      - name:x",
          L"        status: deleted"},
         true, L"t->t{x->x:2:" + empty_native + L"}"},
        {"status is compared exactly",
         {L"tables:", L"  - name: t", L"    new_name: t", L"    fields:", L"      - name:x",
          L"        status: DELETED", L"        type: TEXT"},
         true, L"t->t{x->x:1:TEXT,,,0,0,0,8;}"},
        {"numbers read up to the first other character",
         {L"tables:", L"  - name: t", L"    fields:", L"      - name:x", L"        length: 12abc",
          L"        scale:", L"        precision: -3"},
         true, L"t->t{x->x:1:,,,12,0,-3,8;}"},
        {"a negative length reads as 0",
         {L"tables:", L"  - name: t", L"    fields:", L"      - name:x", L"        length: -5"}, true,
         L"t->t{x->x:1:,,,0,0,0,8;}"},
        {"accepted lines before the first table belong to the empty name",
         {L"tables:", L"    new_name: t9"}, true, L"->t9{}"},
        {"a first line that is neither header skips the section",
         {L"tables", L"  - name: t", L"    new_name: u"}, true, L""},
        {"database block: two-part lines only, then tables",
         {L"database:", L"  engine : InnoDB ", L"  a:b:c", L"  plain", L"tables:", L"  - name: t",
          L"    new_name: u", L"    properties:", L"        character set: latin1", L"        x:y:z"},
         true, L"db.engine=InnoDB;t->u{character set=latin1;}"},
        {"database block without tables keeps the properties",
         {L"database:", L"  engine: Aria", L"nothing"}, true, L"db.engine=Aria;"},
        {"an unknown line fails and leaves no table mutators",
         {L"database:", L"  engine: Aria", L"tables:", L"  - name: t", L"    new_name: u", L"bogus"}, false,
         L"db.engine=Aria;"},
        {"fields twice in a row is refused",
         {L"tables:", L"  - name: t", L"    fields:", L"    fields:"}, false, L""},
        {"blank lines are skipped",
         {L"tables:", L"", L"  - name: t", L"", L"    new_name: u"}, true, L"t->u{}"},
    }));

// --- database mutator ----------------------------------------------------------

TEST(db_mutator, get_table_mutator2_renames_an_existing_one_only)
{
    test_db_mutator db;
    auto* tm = db.get_table_mutator2(L"t", L"a");
    EXPECT_EQ(db.get_table_mutator2(L"t", L"b"), tm);
    EXPECT_EQ(tm->get_new_name(), L"b");
    EXPECT_EQ(db.get_table_mutators().size(), 1u);
    EXPECT_EQ(db.get_mutator(L"t"), tm);
    EXPECT_EQ(db.get_mutator(L"T"), nullptr);  // exact names
    // Registered under the name it was created with.
    EXPECT_EQ(db.get_mutator_by_new_name(L"a"), tm);
    EXPECT_EQ(db.get_mutator_by_new_name(L"b"), nullptr);
}

TEST(db_mutator, get_default_type_fills_the_native_type_and_the_column)
{
    test_db_mutator db;
    t_ftd dec(0, L"price", VT_DECIMAL, false, false, ole_variant(std::wstring(L"1.5")));
    dec.precision = 10;
    dec.scale = 2;
    test_native_type n;
    n.character_set = L"kept";
    db.get_default_type(dec, n);
    EXPECT_EQ(n.type, L"DECIMAL");
    EXPECT_EQ(n.precision, 10);
    EXPECT_EQ(n.scale, 2);
    EXPECT_EQ(n.default_value, L"1.5");
    EXPECT_EQ(n.character_set, L"kept");
    EXPECT_EQ(dec.nativetype, L"DECIMAL");

    t_ftd text(33, L"name", VT_BSTR, false, false);
    test_native_type m;
    m.precision = 7;  // left as the caller set it for other kinds
    db.get_default_type(text, m);
    EXPECT_EQ(m.length, 33u);
    EXPECT_EQ(m.precision, 7);
    EXPECT_EQ(&db.get_types_map(), &udb_types_map_exclusions());
    EXPECT_STREQ(test_db_mutator::get_map_name(), "test.map");
}

// --- table mutator on schemas, rows and indexes -----------------------------------

class table_mutator : public ::testing::Test {
protected:
    void SetUp() override
    {
        tm.update_field(L"name", L"full_name", native(L"VARCHAR", 40, L"'x'"));
        tm.update_field(L"code", L"code", native(L"SMALLINT"));
        tm.update_field(L"junk", L"junk", native(L""))->set_status(udb_mutators::deleted);
        schema.push_back(column(L"id", VT_I4, 4, true));
        schema.push_back(column(L"name", VT_BSTR, 255));
        schema.push_back(column(L"junk", VT_BSTR, 10));
        schema.push_back(column(L"code", VT_I8, 8));
        schema.push_back(column(L"Name", VT_BSTR, 5));  // names match exactly: untouched
        schema.seed = 1000;
        schema.increment = 5;
    }
    test_table_mutator tm{L"people"};
    udb_schema schema;
};

TEST_F(table_mutator, modify1_rewrites_the_schema_and_keeps_seed_and_increment)
{
    const auto source_name = schema.get(1);
    schema[1].precision = 3;
    schema[1].dw_reserved = 4;
    schema[1].b_not_null = true;
    EXPECT_EQ(tm.modify1(schema), L"people");
    ASSERT_EQ(schema.size(), 4u);
    EXPECT_EQ(schema[0].name, L"id");
    EXPECT_NE(schema.get(0), nullptr);

    const t_ftd& name = schema[1];
    EXPECT_EQ(name.name, L"full_name");
    EXPECT_EQ(name.vartype, VT_BSTR);
    EXPECT_EQ(name.size, 40u);
    EXPECT_EQ(name.dw_reserved, 0);
    EXPECT_EQ(name.precision, 3);  // precision and scale 0 in the mapping keep the column's
    EXPECT_TRUE(name.b_not_null);
    // The mapped default is an expression already: it is kept as it stands and
    // marked so, and the type text stays a type.
    EXPECT_EQ(name.nativetype, L"VARCHAR(40)");
    EXPECT_EQ(name.default_value.get_type(), VT_BSTR);
    EXPECT_EQ(name.default_value.to_wstring(), L"'x'");
    EXPECT_TRUE(name.default_is_expression);

    EXPECT_EQ(schema[2].name, L"code");
    EXPECT_EQ(schema[2].vartype, VT_I2);
    EXPECT_EQ(schema[2].nativetype, L"SMALLINT");
    EXPECT_EQ(schema[2].default_value.to_wstring(), L"");
    EXPECT_EQ(schema[3].name, L"Name");
    EXPECT_EQ(schema[3].size, 5u);
    // Columns without a field mutator keep a source default, still to be made an expression.
    EXPECT_FALSE(schema[0].default_is_expression);
    EXPECT_FALSE(schema[3].default_is_expression);

    EXPECT_EQ(schema.seed, 1000);
    EXPECT_EQ(schema.increment, 5);
    // The source's own descriptor is left alone.
    EXPECT_EQ(source_name->name, L"name");
    EXPECT_EQ(source_name->size, 255u);
}

TEST_F(table_mutator, modify1_without_field_mutators_leaves_the_schema)
{
    test_table_mutator plain(L"renamed");
    const auto before = schema.columns();
    EXPECT_EQ(plain.modify1(schema), L"renamed");
    EXPECT_EQ(schema.columns(), before);
    EXPECT_EQ(schema.seed, 1000);
}

TEST_F(table_mutator, precision_and_scale_from_the_mapping)
{
    test_table_mutator t(L"t");
    t.update_field(L"p", L"p", native(L"DECIMAL", 0, L"", 10, 0));
    udb_schema s;
    s.push_back(column(L"p", VT_R8, 8));
    s[0].precision = 5;
    s[0].scale = 3;
    t.modify1(s);
    EXPECT_EQ(s[0].precision, 10);
    EXPECT_EQ(s[0].scale, 0);
}

TEST_F(table_mutator, modify2_rewrites_rows_into_its_own_record)
{
    udb_record row;
    row.emplace_back(L"id", 4, ole_variant(7));
    row.emplace_back(L"name", 5, ole_variant(std::wstring(L"Alice")));
    row.emplace_back(L"junk", 3, ole_variant(std::wstring(L"zzz")));
    row.emplace_back(L"code", 8, ole_variant(42LL));

    for (int round = 0; round < 2; ++round) {
        row[3].set_value(ole_variant(static_cast<long long>(42 + round)));
        udb_record& out = tm.modify2(row);
        ASSERT_NE(&out, &row);
        ASSERT_EQ(out.size(), 3u);
        EXPECT_EQ(out[0].get_name(), L"id");
        EXPECT_EQ(out[0].to_wstring(), L"7");
        EXPECT_EQ(out[1].get_name(), L"full_name");
        EXPECT_EQ(out[1].get_size(), 40u);
        EXPECT_EQ(out[1].to_wstring(), L"Alice");
        EXPECT_EQ(out[2].get_name(), L"code");
        EXPECT_EQ(out[2].get_type(), VT_I2);
        EXPECT_EQ(out[2].to_wstring(), std::to_wstring(42 + round));
    }
    // The given record is not changed.
    ASSERT_EQ(row.size(), 4u);
    EXPECT_EQ(row[1].get_name(), L"name");
    EXPECT_EQ(row[3].get_type(), VT_I8);

    test_table_mutator plain(L"t");
    EXPECT_EQ(&plain.modify2(row), &row);

    // An empty new name keeps the column's name in rows as in the schema.
    test_table_mutator unnamed(L"t");
    unnamed.update_field(L"code", L"", native(L"INTEGER"));
    EXPECT_EQ(unnamed.modify2(row)[3].get_name(), L"code");
}

struct narrowing_case {
    const char* what;
    ole_variant value;
    VARTYPE target;
    bool fits;
    const wchar_t* result;  // text after a conversion that fits
    VARTYPE result_kind = VT_EMPTY;  // VT_EMPTY: the target
};

std::ostream& operator<<(std::ostream& os, const narrowing_case& c) { return os << c.what; }

class narrowing : public ::testing::TestWithParam<narrowing_case> {};

// A value that does not fit its mapped kind fails the row (level 0, the user
// may go on); it is never cut to the target's width.
TEST_P(narrowing, fails_the_row_instead_of_wrapping)
{
    const narrowing_case& c = GetParam();
    ole_variant v = c.value;
    if (c.fits) {
        ASSERT_NO_THROW(udb_change_value_type(v, c.target));
        EXPECT_EQ(v.get_type(), c.result_kind == VT_EMPTY ? c.target : c.result_kind);
        EXPECT_EQ(v.to_wstring(), c.result);
        return;
    }
    const std::string shown = c.value.to_string();
    try {
        udb_change_value_type(v, c.target);
        FAIL() << "no exception";
    } catch (const ole_cast_exception&) {
        FAIL() << "the conversion error must be the mapping's own";
    } catch (const tk_exception& e) {
        // The message names the value so the user can find the row.
        EXPECT_EQ(e.get_message(), "Data conversion is not supported for given type mapping: '" + shown + "'");
        EXPECT_EQ(e.get_level(), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    cases, narrowing,
    ::testing::ValuesIn(std::vector<narrowing_case>{
        {"I8 70000 to I2", ole_variant(70000LL), VT_I2, false, nullptr},
        {"I8 -32768 to I2", ole_variant(-32768LL), VT_I2, true, L"-32768"},
        {"I4 40000 to I2", ole_variant(40000), VT_I2, false, nullptr},
        {"I8 2^31 to I4", ole_variant(2147483648LL), VT_I4, false, nullptr},
        {"UI8 max to I8", ole_variant(18446744073709551615ULL), VT_I8, false, nullptr},
        {"I8 -1 to UI8", ole_variant(-1LL), VT_UI8, false, nullptr},
        {"I4 -1 to UI4", ole_variant(-1), VT_UI4, false, nullptr},
        {"R8 1e10 to I4", ole_variant(1e10), VT_I4, false, nullptr},
        // A fraction is never rounded away: a DECIMAL, money or float value bound for an
        // integer kind arrives whole or not at all.
        {"R8 2.6 to I4", ole_variant(2.6), VT_I4, false, nullptr},
        {"R8 -3 to I2", ole_variant(-3.0), VT_I2, true, L"-3"},
        {"DECIMAL 12.50 to I4", ole_variant::from_string("12.50", VT_DECIMAL), VT_I4, false, nullptr},
        {"DECIMAL 12.00 to I4", ole_variant::from_string("12.00", VT_DECIMAL), VT_I4, true, L"12"},
        {"DECIMAL 0.001 to UI8", ole_variant::from_string("0.001", VT_DECIMAL), VT_UI8, false, nullptr},
        {"CY 1.5 to I8", ole_variant::from_string("1.5", VT_CY), VT_I8, false, nullptr},
        {"CY 7 to I8", ole_variant::from_string("7", VT_CY), VT_I8, true, L"7"},
        {"R8 1e300 to R4", ole_variant(1e300), VT_R4, false, nullptr},
        {"R8 1e300 to I8", ole_variant(1e300), VT_I8, false, nullptr},
        {"text to date that is no date", ole_variant(std::wstring(L"hello")), VT_DATE, false, nullptr},
        {"I8 5 to text", ole_variant(5LL), VT_BSTR, true, L"5"},
        // Texts mapped to a number: one that is not a number is never read as 0.
        {"text x7 to I4", ole_variant(std::wstring(L"x7")), VT_I4, false, nullptr},
        {"text 7x to I2", ole_variant(std::wstring(L"7x")), VT_I2, false, nullptr},
        {"text x7 to UI1", ole_variant(std::wstring(L"x7")), VT_UI1, false, nullptr},
        {"text x7 to I1", ole_variant(std::wstring(L"x7")), VT_I1, false, nullptr},
        {"text x7 to I8", ole_variant(std::wstring(L"x7")), VT_I8, false, nullptr},
        {"text x7 to R4", ole_variant(std::wstring(L"x7")), VT_R4, false, nullptr},
        {"text x7 to R8", ole_variant(std::wstring(L"x7")), VT_R8, false, nullptr},
        {"text x7 to CY", ole_variant(std::wstring(L"x7")), VT_CY, false, nullptr},
        {"text x7 to DECIMAL", ole_variant(std::wstring(L"x7")), VT_DECIMAL, false, nullptr},
        {"text maybe to BOOL", ole_variant(std::wstring(L"maybe")), VT_BOOL, false, nullptr},
        {"text 70000 to I2", ole_variant(std::wstring(L"70000")), VT_I2, false, nullptr},
        {"text 42 to I4 stays text", ole_variant(std::wstring(L"42")), VT_I4, true, L"42", VT_BSTR},
        {"text 2.5 to R8", ole_variant(std::wstring(L" 2.5 ")), VT_R8, true, L"2.5000000000000000e+00"},
        {"text yes to BOOL", ole_variant(std::wstring(L"Yes")), VT_BOOL, true, L"1"},
        {"empty text to I4", ole_variant(std::wstring()), VT_I4, false, nullptr},
    }));

TEST(udb_change_value_type, a_long_value_is_cut_short_in_the_message)
{
    ole_variant v(std::wstring(200, L'x'));
    try {
        udb_change_value_type(v, VT_I4);
        FAIL() << "no exception";
    } catch (const tk_exception& e) {
        EXPECT_EQ(e.get_message(),
                  "Data conversion is not supported for given type mapping: '" + std::string(60, 'x') + "...'");
    }
    // The cut never splits a character.
    ole_variant wide(std::wstring(59, L'x') + std::wstring(10, L'\u00E9'));
    try {
        udb_change_value_type(wide, VT_I4);
        FAIL() << "no exception";
    } catch (const tk_exception& e) {
        EXPECT_EQ(e.get_message(), "Data conversion is not supported for given type mapping: '" +
                                       std::string(59, 'x') + "...'");
    }
}

TEST_F(table_mutator, a_text_that_is_no_number_fails_its_row)
{
    tm.update_field(L"qty", L"qty", native(L"INTEGER"));
    udb_record bad;
    bad.emplace_back(L"qty", 2, ole_variant(std::wstring(L"x7")));
    try {
        tm.modify2(bad);
        FAIL() << "the row was not failed";
    } catch (const tk_exception& e) {
        EXPECT_EQ(e.get_message(), "Data conversion is not supported for given type mapping: 'x7'");
        EXPECT_EQ(e.get_level(), 0);
    }
    udb_record good;
    good.emplace_back(L"qty", 2, ole_variant(std::wstring(L"7")));
    udb_record& out = tm.modify2(good);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].to_wstring(), L"7");
}

TEST_F(table_mutator, a_failed_conversion_fails_the_row_and_the_next_row_starts_afresh)
{
    udb_record bad;
    bad.emplace_back(L"code", 8, ole_variant(70000LL));
    EXPECT_THROW(tm.modify2(bad), tk_exception);

    udb_record good;
    good.emplace_back(L"code", 8, ole_variant(12LL));
    udb_record& out = tm.modify2(good);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].to_wstring(), L"12");
}

std::vector<std::wstring> names(std::initializer_list<const wchar_t*> list)
{
    return {list.begin(), list.end()};
}

TEST(table_mutator_indexes, modify3_renames_shrinks_and_drops)
{
    test_table_mutator tm(L"t");
    tm.update_field(L"a", L"a2", native(L"INTEGER"));
    tm.update_field(L"b", L"", native(L""))->set_status(udb_mutators::deleted);
    tm.update_field(L"d", L"", native(L""))->set_status(udb_mutators::deleted);
    tm.update_field(L"e", L"", native(L""))->set_status(udb_mutators::deleted);

    udb_indexes list;
    list.push_back(udb_index(L"pk", true, true, names({L"id"})));
    list.push_back(udb_index(L"uq_ab", true, false, names({L"a", L"b"})));
    udb_index ix_cd(L"ix_cd", false, false, {});
    ix_cd.add_field(L"c", 4);  // a prefix stays with its column
    ix_cd.add_field(L"d", 5);
    ix_cd.add_field(L"a");
    list.push_back(ix_cd);
    list.push_back(udb_index(L"ix_e", false, false, names({L"e"})));
    list.push_back(udb_index(L"pk_ad", true, true, names({L"a", L"d"})));
    list.push_back(udb_index(L"uq_a", true, false, names({L"a"})));

    udb_indexes copy = list;
    tm.modify3(list);
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].name, L"pk");
    EXPECT_EQ(list[0].fields, names({L"id"}));
    // A plain index keeps what is left of it.
    EXPECT_EQ(list[1].name, L"ix_cd");
    EXPECT_EQ(list[1].fields, names({L"c", L"a2"}));
    EXPECT_EQ(list[1].prefix_lengths, (std::vector<std::uint32_t>{4, 0}));
    // A unique index that lost nothing is only renamed.
    EXPECT_EQ(list[2].name, L"uq_a");
    EXPECT_EQ(list[2].fields, names({L"a2"}));

    // A key position follows its index, or becomes -1 with it.
    for (auto [before, after] : {std::pair{0, 0}, {2, 1}, {5, 2}, {1, -1}, {4, -1}, {-1, -1}}) {
        udb_indexes again = copy;
        std::int32_t key = before;
        tm.modify3(again, &key);
        EXPECT_EQ(key, after) << "key at " << before;
    }
}

// A recordset keeps pointing at its key after a mutator rewrote its index list.
class key_recordset : public udb_recordset {
public:
    key_recordset() : udb_recordset(std::wstring(L"t")) {}
    void append_record(udb_record&) override {}
};

TEST(table_mutator_indexes, recordset_takes_the_key_position_that_follows_the_key)
{
    test_table_mutator tm(L"t");
    tm.update_field(L"b", L"", native(L""))->set_status(udb_mutators::deleted);
    tm.update_field(L"c", L"c2", native(L"INTEGER"));

    key_recordset rs;
    rs.add_index(udb_index(L"ix_b", false, false, names({L"b"})));
    rs.add_index(udb_index(L"uq_c", true, false, names({L"c"})));
    ASSERT_EQ(rs.get_key_pos(), 1);
    std::int32_t pos = rs.get_key_pos();
    tm.modify3(rs.get_indexes(), &pos);
    rs.set_key_pos(pos);
    ASSERT_EQ(rs.get_key_pos(), 0);
    udb_record row;
    row.push_back(std::make_unique<udb_field>(L"c2", 4, ole_variant(std::int32_t(7))));
    const auto key = rs.get_key(row);
    ASSERT_TRUE(key);
    ASSERT_EQ(key->size(), 1u);
    EXPECT_EQ((*key)[0].get_name(), L"c2");

    // A dropped key leaves the recordset without one: no stale index is taken for it.
    key_recordset lost;
    lost.add_index(udb_index(L"uq_bc", true, false, names({L"b", L"c"})));
    pos = lost.get_key_pos();
    tm.modify3(lost.get_indexes(), &pos);
    lost.set_key_pos(pos);
    EXPECT_EQ(lost.get_key_pos(), -1);
    EXPECT_THROW(lost.get_key(row), tk_exception);
    lost.set_key_pos(-7);
    EXPECT_EQ(lost.get_key_pos(), -1);
}

TEST(table_mutator_indexes, renames_apply_once_per_name)
{
    test_table_mutator swap(L"t");
    swap.update_field(L"a", L"b", native(L"INTEGER"));
    swap.update_field(L"b", L"a", native(L"INTEGER"));
    udb_indexes list;
    list.push_back(udb_index(L"ix", false, false, names({L"a", L"b"})));
    swap.modify3(list);
    EXPECT_EQ(list[0].fields, names({L"b", L"a"}));

    test_table_mutator moved(L"t");
    moved.update_field(L"c", L"c", native(L""))->set_status(udb_mutators::deleted);
    moved.update_field(L"a", L"c", native(L"INTEGER"));
    udb_indexes other;
    other.push_back(udb_index(L"ix", false, false, names({L"a", L"d"})));
    moved.modify3(other);
    EXPECT_EQ(other[0].fields, names({L"c", L"d"}));
}

TEST(table_mutator_fields, update_field_keeps_one_mutator_under_every_new_name)
{
    test_table_mutator tm(L"t");
    auto* fm = tm.update_field(L"col", L"x", native(L"INTEGER"));
    fm->set_status(udb_mutators::created);
    EXPECT_EQ(tm.update_field(L"col", L"y", native(L"BIGINT")), fm);
    EXPECT_EQ(fm->get_new_name(), L"y");
    EXPECT_EQ(fm->get_variant_type(), VT_I8);
    EXPECT_EQ(fm->get_status(), udb_mutators::created);  // status stays
    EXPECT_EQ(tm.get_mutator_by_new_name(L"x"), fm);
    EXPECT_EQ(tm.get_mutator_by_new_name(L"y"), fm);
    EXPECT_EQ(tm.get_mutator(L"col"), fm);
    EXPECT_EQ(tm.get_mutator(L"COL"), nullptr);
    EXPECT_EQ(fm->get_mutator(L"anything"), nullptr);

    const auto& props = fm->get_properties();
    EXPECT_EQ(props.at(L"new_name"), L"y");
    EXPECT_EQ(props.at(L"type"), L"BIGINT");
    EXPECT_EQ(props.at(L"length"), L"0");
    EXPECT_EQ(props.count(L"status"), 0u);
}

}  // namespace
