// Fields, records, column descriptors and schemas: sizes, lookups by name and
// the conformance rules that decide whether rows can be appended to a table.
#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <vector>

#include "UDB/udb_record.h"
#include "UDB/udb_schema.h"

namespace {

udb_field make_field(const wchar_t* name, std::uint32_t size, const ole_variant& v)
{
    return udb_field(name, size, v);
}

}  // namespace

TEST(udb_field, data_size_follows_the_value_kind)
{
    EXPECT_EQ(make_field(L"t", 99, ole_variant(std::wstring(L"abc"))).get_data_size(), 3u);
    // Characters, not bytes: three non-ASCII letters.
    EXPECT_EQ(make_field(L"t", 99, ole_variant(std::wstring(L"\u00e4\u00f6\u00fc"))).get_data_size(), 3u);
    EXPECT_EQ(make_field(L"b", 0, ole_variant(std::vector<std::uint8_t>(10, 7))).get_data_size(), 10u);
    EXPECT_EQ(make_field(L"i", 11, ole_variant(42)).get_data_size(), 11u);
}

TEST(udb_field, assigning_a_value_keeps_name_size_and_flags)
{
    udb_field f(L"id", 4, ole_variant(1), true, true);
    f = ole_variant(std::wstring(L"x"));
    EXPECT_EQ(f.get_name(), L"id");
    EXPECT_EQ(f.get_size(), 4u);
    EXPECT_TRUE(f.is_not_null());
    EXPECT_TRUE(f.is_auto_increment());
    EXPECT_EQ(f.get_type(), VT_BSTR);

    udb_field copy(f);
    EXPECT_EQ(copy.get_name(), L"id");
    EXPECT_TRUE(copy.is_not_null());
    EXPECT_EQ(copy.to_wstring(), L"x");
}

TEST(udb_record, lookup_ignores_case_and_the_first_match_wins)
{
    udb_record rec;
    rec.emplace_back(L"Id", 4, ole_variant(1));
    rec.emplace_back(L"ID", 4, ole_variant(2));
    rec.emplace_back(L"Stra\u00dfe", 4, ole_variant(3));

    EXPECT_TRUE(rec.find_field(L"ID"));
    EXPECT_EQ(rec.get_field(L"id").to_long(), 1);
    EXPECT_EQ(rec.get_field_idx(L"iD"), 0);
    EXPECT_FALSE(rec.find_field(L"name"));
    EXPECT_EQ(rec.get_field_idx(L"name"), -1);
    EXPECT_EQ(rec.get_field(L"name").get_type(), VT_EMPTY);
    EXPECT_EQ(rec.get_field(L"name").get_name(), L"");
    EXPECT_EQ(rec.find(L"name"), nullptr);
}

TEST(udb_record, total_size_skips_empty_values_and_null_entries)
{
    udb_record rec;
    rec.emplace_back(L"e", 50, ole_variant());
    udb_field null_field(L"n", 50, ole_variant());
    null_field.src.vt = VT_NULL;
    rec.emplace_back(std::move(null_field));
    rec.push_back(nullptr);
    rec.emplace_back(L"t", 0, ole_variant(std::wstring(L"hello")));
    EXPECT_EQ(rec.get_total_size(), 55u);
}

TEST(udb_record, copies_are_deep_and_reset_empties)
{
    udb_record rec;
    rec.emplace_back(L"a", 1, ole_variant(1));
    rec.push_back(nullptr);
    udb_record copy(rec);
    ASSERT_EQ(copy.size(), 2u);
    EXPECT_EQ(copy.get(1), nullptr);
    rec[0] = ole_variant(5);
    EXPECT_EQ(copy[0].to_long(), 1);
    rec.reset();
    EXPECT_TRUE(rec.empty());
}

// t_ftd::conform_to: source column -> destination column.
struct conform_case {
    const char* label;
    VARTYPE src_vt;
    std::uint32_t src_size;
    VARTYPE dest_vt;
    std::uint32_t dest_size;
    bool conforms;
    // Scale (decimal digits, or fractional second digits of a date), the destination's
    // precision, and the date kinds (1 date and time, 2 date, 3 time).
    std::int32_t src_scale = 0;
    std::int32_t dest_precision = 0;
    std::int32_t dest_scale = 0;
    std::int32_t src_kind = 0;
    std::int32_t dest_kind = 0;
};

std::ostream& operator<<(std::ostream& os, const conform_case& c)
{
    return os << c.label;
}

class t_ftd_conform : public ::testing::TestWithParam<conform_case> {};

TEST_P(t_ftd_conform, by_kind_and_size)
{
    const conform_case& c = GetParam();
    t_ftd src(c.src_size, L"s", c.src_vt, false, false, ole_variant(), c.src_kind);
    t_ftd dest(c.dest_size, L"d", c.dest_vt, false, false, ole_variant(), c.dest_kind);
    src.scale = c.src_scale;
    dest.precision = c.dest_precision;
    dest.scale = c.dest_scale;
    EXPECT_EQ(src.conform_to(dest), c.conforms);
}

INSTANTIATE_TEST_SUITE_P(
    cases, t_ftd_conform,
    ::testing::ValuesIn(std::vector<conform_case>{
        {"int_into_bigint", VT_I4, 4, VT_I8, 8, true},
        {"int_kind_into_bigint_refused", VT_INT, 4, VT_I8, 8, false},
        // Where the destination would round values without a word, the table is refused.
        {"double_into_int_refused", VT_R8, 8, VT_I4, 4, false},
        {"decimal_with_fraction_into_int_refused", VT_DECIMAL, 0, VT_I4, 4, false, 2},
        {"whole_decimal_into_bigint", VT_DECIMAL, 0, VT_I8, 8, true, 0},
        {"decimal_into_smaller_scale_refused", VT_DECIMAL, 0, VT_DECIMAL, 0, false, 2, 10, 1},
        {"decimal_into_same_scale", VT_DECIMAL, 0, VT_DECIMAL, 0, true, 2, 10, 2},
        {"decimal_into_numeric_without_precision", VT_DECIMAL, 0, VT_R8, 8, true, 30},
        {"double_into_fixed_numeric_refused", VT_R8, 8, VT_DECIMAL, 0, false, 0, 10, 2},
        {"int_into_fixed_numeric", VT_I4, 4, VT_DECIMAL, 0, true, 0, 20, 0},
        {"double_into_real_refused", VT_R8, 8, VT_R4, 4, false},
        {"bigint_into_real_refused", VT_I8, 8, VT_R4, 4, false},
        {"float_into_real", VT_R4, 4, VT_R4, 4, true},
        {"smallint_into_real", VT_I2, 2, VT_R4, 4, true},
        {"datetime6_into_timestamp0_refused", VT_DATE, 0, VT_DATE, 0, false, 6, 0, 0, 1, 1},
        {"datetime3_into_timestamp6", VT_DATE, 0, VT_DATE, 0, true, 3, 0, 6, 1, 1},
        {"datetime_into_date_refused", VT_DATE, 0, VT_DATE, 0, false, 0, 0, 0, 1, 2},
        {"timestamp_into_date_refused", VT_DATE, 0, VT_DATE, 0, false, 0, 0, 0, 0, 2},
        {"datetime_into_time_refused", VT_DATE, 0, VT_DATE, 0, false, 0, 0, 6, 1, 3},
        {"date_into_date", VT_DATE, 0, VT_DATE, 0, true, 0, 0, 0, 2, 2},
        {"date_into_timestamp", VT_DATE, 0, VT_DATE, 0, true, 0, 0, 0, 2, 1},
        {"time3_into_time6", VT_DATE, 0, VT_DATE, 0, true, 3, 0, 6, 3, 3},
        {"time_into_timestamp_refused", VT_DATE, 0, VT_DATE, 0, false, 0, 0, 6, 3, 1},
        // A boolean keeps only whether a number is zero.
        {"int_into_boolean_refused", VT_I4, 4, VT_BOOL, 1, false},
        {"boolean_into_boolean", VT_BOOL, 1, VT_BOOL, 1, true},
        // A NUMERIC of more than 38 digits (read as VT_R8, precision -1) keeps its scale; one
        // without precision (scale -1) keeps every digit.
        {"decimal_into_wide_numeric_of_smaller_scale_refused", VT_DECIMAL, 0, VT_R8, 8, false, 2, -1, 1},
        {"decimal_into_wide_numeric_of_same_scale", VT_DECIMAL, 0, VT_R8, 8, true, 2, -1, 2},
        {"double_into_wide_numeric_refused", VT_R8, 8, VT_R8, 8, false, 0, -1, 4},
        {"double_into_numeric_without_precision", VT_R8, 8, VT_R8, 8, true, 0, -1, -1},
        {"text_into_int_refused", VT_BSTR, 10, VT_I4, 4, false},
        {"text19_into_date", VT_BSTR, 19, VT_DATE, 0, true},
        {"text20_into_date_refused", VT_BSTR, 20, VT_DATE, 0, false},
        {"double_into_date_refused", VT_R8, 8, VT_DATE, 0, false},
        {"varchar100_into_varchar50_refused", VT_BSTR, 100, VT_BSTR, 50, false},
        {"varchar100_into_unlimited_text", VT_BSTR, 100, VT_BSTR, 0, true},
        {"varchar100_into_65535", VT_BSTR, 100, VT_BSTR, 65535, true},
        {"varchar100_into_varchar200", VT_BSTR, 100, VT_BSTR, 200, true},
        {"int_into_text1", VT_I4, 4, VT_BSTR, 1, true},
        {"blob_into_text_refused", VT_BLOB, 10, VT_BSTR, 0, false},
        {"text10_into_blob5_refused", VT_BSTR, 10, VT_BLOB, 5, false},
        {"text10_into_unlimited_blob", VT_BSTR, 10, VT_BLOB, 0, true},
        {"decimal_into_currency", VT_DECIMAL, 0, VT_CY, 0, true},
        {"currency_into_decimal", VT_CY, 0, VT_DECIMAL, 0, true},
        {"int_into_empty_refused", VT_I4, 4, VT_EMPTY, 0, false},
        {"empty_into_empty", VT_EMPTY, 0, VT_EMPTY, 0, true},
    }),
    [](const ::testing::TestParamInfo<conform_case>& info) { return std::string(info.param.label); });

namespace {

udb_schema schema_of(std::initializer_list<t_ftd> columns)
{
    udb_schema s;
    for (const auto& c : columns) s.add_column(c);
    return s;
}

}  // namespace

TEST(udb_schema, conform_to_pairs_columns_by_position_or_name)
{
    const udb_schema src = schema_of({t_ftd(4, L"id", VT_I4, true, true), t_ftd(100, L"name", VT_BSTR, false, false)});

    EXPECT_TRUE(src.conform_to(
        schema_of({t_ftd(8, L"id", VT_I8, true, false), t_ftd(0, L"name", VT_BSTR, false, false)}), false));
    EXPECT_FALSE(src.conform_to(
        schema_of({t_ftd(8, L"id", VT_I8, true, false), t_ftd(50, L"name", VT_BSTR, false, false)}), false));
    // Column counts differ: fails before any column is compared.
    EXPECT_FALSE(src.conform_to(schema_of({t_ftd(8, L"id", VT_I8, true, false)}), false));
    EXPECT_FALSE(src.conform_to(schema_of({t_ftd(8, L"id", VT_I8, true, false),
                                           t_ftd(0, L"name", VT_BSTR, false, false),
                                           t_ftd(0, L"extra", VT_BSTR, false, false)}),
                                false));

    // By name the order of the destination does not matter, a missing name does.
    const udb_schema swapped =
        schema_of({t_ftd(0, L"NAME", VT_BSTR, false, false), t_ftd(8, L"ID", VT_I8, true, false)});
    EXPECT_TRUE(src.conform_to(swapped, true));
    EXPECT_FALSE(src.conform_to(swapped, false));
    EXPECT_FALSE(src.conform_to(
        schema_of({t_ftd(0, L"other", VT_BSTR, false, false), t_ftd(8, L"id", VT_I8, true, false)}), true));

    EXPECT_TRUE(udb_schema().conform_to(udb_schema(), false));
}

TEST(udb_schema, lookups_ignore_case_and_answer_empty_results)
{
    udb_schema s = schema_of({t_ftd(4, L"Id", VT_I4, true, true), t_ftd(30, L"Name", VT_BSTR, false, false)});
    EXPECT_TRUE(s.find_field(L"NAME"));
    EXPECT_EQ(s.get_field_idx(L"name"), 1);
    EXPECT_EQ(s.get_field_size(L"name"), 30u);
    EXPECT_EQ(s.get_field_type(L"ID"), VT_I4);
    EXPECT_EQ(&s.get_field1(L"id"), &s[0]);
    EXPECT_EQ(&s.get_field2(L"NAME"), &s[1]);

    EXPECT_FALSE(s.find_field(L"x"));
    EXPECT_EQ(s.get_field_idx(L"x"), -1);
    EXPECT_EQ(s.get_field_size(L"x"), 0xFFFFFFFFu);
    EXPECT_EQ(s.get_field_type(L"x"), VT_NULL);
    const t_ftd& missing = s.get_field1(L"x");
    EXPECT_EQ(missing.vartype, VT_EMPTY);
    EXPECT_TRUE(missing.name.empty());
    EXPECT_EQ(missing.size, 0u);
}

TEST(udb_schema, copies_share_descriptors_that_outlive_the_original)
{
    auto original = std::make_unique<udb_schema>();
    original->add_column(t_ftd(4, L"id", VT_I4, true, true));
    original->seed = 17;
    udb_schema copy(*original);
    original->clear();
    original.reset();
    ASSERT_EQ(copy.size(), 1u);
    EXPECT_EQ(copy[0].name, L"id");
    EXPECT_EQ(copy.seed, 17);
    copy[0].nativetype = L"INTEGER";
    udb_schema second(copy);
    EXPECT_EQ(second[0].nativetype, L"INTEGER");
}
