// CREATE TABLE and index builders: the statements they hand to a database (a fake that collects
// them), and the objects they make on the server (a database that runs them).
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <pqxx/pqxx>

#include "TK/ole_variant.h"
#include "TK/tk_strings.h"
#include "UDB/udb_custom_conversion.h"
#include "UDB/udb_database.h"
#include "UDB/udb_index.h"
#include "UDB/udb_schema.h"
#include "pg_target/pgs_exception.h"
#include "pg_target/pgs_index_builder.h"
#include "pg_target/pgs_quote.h"
#include "pg_target/pgs_table_builder.h"
#include "pg_target/pgs_validators.h"
#include "support/pg_scratch_db.h"
#include "support/test_env.h"

namespace {

// Collects the statements handed to query(); fail_when decides which of them fail.
class statement_sink : public udb_database {
public:
    statement_sink() : udb_database(L"sink", 0, false) {}

    std::unique_ptr<udb_recordset> create_table1(const std::wstring&, udb_schema&, udb_indexes&) override
    {
        return nullptr;
    }
    std::unique_ptr<udb_recordset> get_query(const std::wstring&, const std::wstring&, std::int32_t) override
    {
        return nullptr;
    }
    std::unique_ptr<udb_recordset> get_table(const std::wstring&, std::int32_t) override { return nullptr; }
    bool test_query(const std::wstring&) override { return false; }
    std::wstring quote_table_name(const std::wstring& name) const override { return pgs_make_name3(name, true, false); }
    std::wstring key_condition_term(const t_ftd&, const std::wstring&) const override { return {}; }
    std::unique_ptr<udb_recordset> query(const std::wstring& statement) override
    {
        statements.push_back(statement);
        if (fail_when && fail_when(statement)) throw pgs_exception("refused by the test", "42000");
        return nullptr;
    }

    std::vector<std::string> utf8() const
    {
        std::vector<std::string> r;
        for (const auto& s : statements) r.push_back(tk_unicode_to_utf8(s));
        return r;
    }

    std::vector<std::wstring> statements;
    std::function<bool(const std::wstring&)> fail_when;
};

const pgs_ddl_settings folded{false, false};

t_ftd col(const wchar_t* name, VARTYPE vt, std::uint32_t size = 0, bool not_null = false, bool autoinc = false,
          const wchar_t* def = nullptr, std::int32_t subtype = 0)
{
    return t_ftd(size, name, vt, not_null, autoinc, def ? ole_variant(std::wstring(def)) : ole_variant(), subtype);
}

udb_schema schema_of(std::initializer_list<t_ftd> columns)
{
    udb_schema s;
    for (const auto& c : columns) s.add_column(c);
    return s;
}

TEST(pgs_table_builder, empty_table_and_unlogged)
{
    udb_schema none;
    udb_indexes no_indexes;
    statement_sink db;
    pgs_schema_initializer(L"t", none, no_indexes, folded).build_schema(db);
    pgs_schema_initializer(L"t", none, no_indexes, pgs_ddl_settings{false, true}).build_schema(db);
    EXPECT_EQ(db.utf8(), (std::vector<std::string>{"CREATE TABLE \"t\" ()", "CREATE UNLOGGED TABLE \"t\" ()"}));
}

TEST(pgs_table_builder, columns_types_defaults_and_not_null)
{
    udb_schema s = schema_of({
        col(L"Id", VT_I4, 4, false, true, L"7"),            // auto-increment: no default, NOT NULL
        col(L"Name", VT_BSTR, 40, true, false, L"it's"),
        col(L"Code", VT_BSTR, 10, false, false, L"ignored", 0x14),  // empty-text default wins
        col(L"Price", VT_DECIMAL, 0, false, false, L"1.50"),
        col(L"Ratio", VT_R8, 0, false, false, L"1e999"),    // not a finite number: no default
        col(L"Big", VT_UI8),
    });
    s[3].precision = 10;
    s[3].scale = 2;
    udb_indexes idx;
    statement_sink db;
    pgs_schema_initializer b(L"Sales.Orders", s, idx, folded);
    b.build_schema(db);
    ASSERT_EQ(db.statements.size(), 1u);
    EXPECT_EQ(db.utf8()[0],
              "CREATE TABLE \"sales\".\"orders\" (\"id\" SERIAL NOT NULL, \"name\" VARCHAR(40)  DEFAULT 'it''s' NOT NULL, "
              "\"code\" CHAR(10)  DEFAULT '' , \"price\" DECIMAL(10,2) DEFAULT 1.50, \"ratio\" DOUBLE PRECISION, "
              "\"big\" NUMERIC(20))");
    EXPECT_EQ(b.get_serial_column(), L"\"id\"");
    EXPECT_EQ(b.get_columns()[0].default_value.get_vt(), VT_EMPTY);
    EXPECT_EQ(b.get_names_map().get_mapped_name(L"NAME"), L"\"name\"");
}

TEST(pgs_table_builder, extensions_in_front_uuid_first)
{
    udb_schema s = schema_of({col(L"g", VT_BSTR, 0, false, false, nullptr, 2),
                              col(L"u", VT_BSTR, 36, false, false, L"newid()", 1),
                              col(L"plain_uuid", VT_BSTR, 36, false, false, nullptr, 1)});
    udb_indexes idx;
    statement_sink db;
    pgs_schema_initializer(L"t", s, idx, folded).build_schema(db);
    EXPECT_EQ(db.utf8()[0],
              "CREATE EXTENSION IF NOT EXISTS \"uuid-ossp\"; \nCREATE EXTENSION IF NOT EXISTS postgis; \n"
              "CREATE TABLE \"t\" (\"g\" geometry, \"u\" UUID DEFAULT uuid_generate_v4(), \"plain_uuid\" UUID)");
}

TEST(pgs_table_builder, primary_key_columns_are_not_null_also_under_their_original_names)
{
    // The database renamed "Order/Date" to order_date before building; the key names the original.
    udb_schema s = schema_of({col(L"order_date", VT_DATE), col(L"id", VT_I4), col(L"ID2", VT_I4)});
    std::vector<std::wstring> originals = {L"Order/Date", L"id", L"ID2"};
    udb_indexes idx;
    idx.push_back(udb_index(L"PRIMARY", true, true, {L"Order/Date", L"id", L"id2"}));
    statement_sink db;
    pgs_schema_initializer b(L"t", s, idx, folded, &originals);
    EXPECT_TRUE(b.get_columns()[0].b_not_null);
    EXPECT_TRUE(b.get_columns()[1].b_not_null);
    EXPECT_FALSE(b.get_columns()[2].b_not_null);  // the key spells it differently
    EXPECT_EQ(b.get_names_map().get_mapped_name(L"Order/Date"), L"\"order_date\"");
}

TEST(pgs_table_builder, unusable_and_colliding_names_become_safe_and_unique)
{
    std::wstring long_name(70, L'L');
    udb_schema s = schema_of({col(L"Name", VT_I4), col(L"NAME", VT_I4), col(long_name.c_str(), VT_I4),
                              col(L"a\"b", VT_I4)});
    udb_indexes idx;
    pgs_schema_initializer b(L"t", s, idx, folded);
    const auto& c = b.get_columns();
    EXPECT_EQ(c[0].name, L"\"name\"");
    EXPECT_EQ(c[1].name, L"\"name00000\"");
    EXPECT_EQ(c[2].name, L"\"" + std::wstring(62, L'l') + L"\"");
    EXPECT_EQ(c[3].name, L"\"a\"\"b\"");
    EXPECT_EQ(b.get_names_map().get_map().size(), 4u);

    // Case-sensitive names keep their case and are distinct as they are.
    pgs_schema_initializer cs(L"t", s, idx, pgs_ddl_settings{true, false});
    EXPECT_EQ(cs.get_columns()[0].name, L"\"Name\"");
    EXPECT_EQ(cs.get_columns()[1].name, L"\"NAME\"");
}

TEST(pgs_table_builder, sequence_restart_and_comments)
{
    udb_schema s = schema_of({col(L"id", VT_I4, 4, false, true), col(L"note", VT_BSTR, 10)});
    s[1].comment = L"it's the \"note\"";
    s.seed = 100;
    udb_indexes idx;
    statement_sink db;
    pgs_schema_initializer(L"orders", s, idx, folded).build_schema(db);
    auto st = db.utf8();
    ASSERT_EQ(st.size(), 3u);
    // The sequence stands on the source's last value, called; never past its own end.
    EXPECT_EQ(st[1],
              "SELECT setval(pgs_s.seq, LEAST(100, pgs_q.seqmax), true) FROM (SELECT "
              "pg_get_serial_sequence('\"orders\"', 'id')::regclass AS seq) AS pgs_s JOIN pg_sequence AS pgs_q ON "
              "pgs_q.seqrelid = pgs_s.seq WHERE 100 >= pgs_q.seqmin");
    EXPECT_EQ(st[2], "comment on column \"orders\".\"note\" is 'it''s the \"note\"'");

    // Seed and step 1: nothing to tune. No auto-increment column: nothing whatever the seed.
    s.seed = 1;
    statement_sink plain;
    pgs_schema_initializer(L"orders", s, idx, folded).build_schema(plain);
    EXPECT_EQ(plain.statements.size(), 2u);
    udb_schema no_serial = schema_of({col(L"x", VT_I4)});
    no_serial.seed = 50;
    statement_sink none;
    pgs_schema_initializer(L"t", no_serial, idx, folded).build_schema(none);
    EXPECT_EQ(none.statements.size(), 1u);
}

TEST(pgs_table_builder, failures_by_step)
{
    udb_schema s = schema_of({col(L"id", VT_I4, 4, false, true), col(L"c", VT_BSTR, 5)});
    s[1].comment = L"x";
    s.seed = 5;
    udb_indexes idx;

    statement_sink refuse_create;
    refuse_create.fail_when = [](const std::wstring& q) { return q.rfind(L"CREATE TABLE", 0) == 0; };
    try {
        pgs_schema_initializer(L"t", s, idx, folded).build_schema(refuse_create);
        FAIL() << "no exception";
    } catch (const pgs_exception& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Cannot create table: CREATE TABLE \"t\" (\"id\" SERIAL NOT NULL, \"c\" VARCHAR(5) ). "
                  "refused by the test");
    }
    EXPECT_EQ(refuse_create.statements.size(), 1u);  // nothing after the failed CREATE TABLE

    // Sequence and comment failures are logged; the builder goes on.
    statement_sink refuse_rest;
    refuse_rest.fail_when = [](const std::wstring& q) { return q.rfind(L"CREATE TABLE", 0) != 0; };
    EXPECT_NO_THROW(pgs_schema_initializer(L"t", s, idx, folded).build_schema(refuse_rest));
    EXPECT_EQ(refuse_rest.statements.size(), 3u);
}

TEST(pgs_table_builder, partitions_and_their_fallback)
{
    udb_schema s = schema_of({col(L"d", VT_DATE)});
    udb_indexes idx;
    udb_partition part;
    part.column = L"d";
    part.partitions = {{L"p1", L"b1"}, {L"p2", L"b2"}, {L"p3", L"b3"}};
    statement_sink db;
    pgs_schema_initializer(L"t", s, idx, part, folded).build_schema(db);
    EXPECT_EQ(db.utf8(),
              (std::vector<std::string>{
                  "CREATE TABLE \"t\" (\"d\" TIMESTAMP(0)) PARTITION BY RANGE (d)",
                  "CREATE TABLE \"t_p1\" PARTITION OF \"t\" FOR VALUES FROM (TO_DATE(' 0000-00-00 00:00:00', "
                  "'SYYYY-MM-DD HH24:MI:SS')) TO (b1)",
                  "CREATE TABLE \"t_p2\" PARTITION OF \"t\" FOR VALUES FROM (b1) TO (b2)",
                  "CREATE TABLE \"t_p3\" PARTITION OF \"t\" FOR VALUES FROM (b2) TO (b3)"}));

    statement_sink refuse_p2;
    refuse_p2.fail_when = [](const std::wstring& q) { return q.find(L"t_p2") != std::wstring::npos; };
    pgs_schema_initializer(L"t", s, idx, part, folded).build_schema(refuse_p2);
    EXPECT_EQ(refuse_p2.utf8().back(), "CREATE TABLE \"t\" (\"d\" TIMESTAMP(0))");

    // A column without partitions is a plain table.
    part.partitions.clear();
    statement_sink plain;
    pgs_schema_initializer(L"t", s, idx, part, folded).build_schema(plain);
    EXPECT_EQ(plain.utf8(), std::vector<std::string>{"CREATE TABLE \"t\" (\"d\" TIMESTAMP(0))"});
}

TEST(pgs_table_builder, custom_column_rule_gives_the_type_text)
{
    struct money_rule : udb_conversion_rule {
        bool accepts_value(const udb_field&) override { return false; }
        // Rules see the final column, as CREATE TABLE names it.
        bool accepts_column(const t_ftd& c) override { return c.name == L"\"price\""; }
        std::wstring value_text(const udb_field&) override { return {}; }
        std::wstring column_text(const t_ftd&) override { return L"MONEY"; }
    } rule;
    udb_custom_conversion registry;
    ASSERT_EQ(udb_custom_conversion::try_instance(), &registry);
    registry.add_rule(&rule);
    udb_schema s = schema_of({col(L"Price", VT_R8), col(L"other", VT_R8)});
    udb_indexes idx;
    statement_sink db;
    pgs_schema_initializer(L"t", s, idx, folded).build_schema(db);
    registry.get_rules().clear();
    EXPECT_EQ(db.utf8()[0], "CREATE TABLE \"t\" (\"price\" MONEY, \"other\" DOUBLE PRECISION)");
}

// ---- index builder ---------------------------------------------------------------------------

TEST(pgs_index_builder, statements_by_index_kind)
{
    udb_schema s = schema_of({col(L"id", VT_I4), col(L"Name", VT_BSTR, 10), col(L"x", VT_I4)});
    udb_indexes idx;
    idx.push_back(udb_index(L"PRIMARY", true, true, {L"ID"}));
    idx.push_back(udb_index(L"ux_name", true, false, {L"name"}));
    udb_index with_include(L"ix_x", false, false, {L"x"});
    with_include.included_fields = {L"Name", L"gone"};
    idx.push_back(with_include);
    idx.push_back(udb_index(L"ix_missing", false, false, {L"nope"}));
    idx.push_back(udb_index(L"ix_empty", false, false, {}));

    pgs_schema_initializer table(L"Sales.Items", s, idx, folded);
    pgs_in_validator validator;
    pgs_indexes_initializer ib(L"Sales.Items", table.get_columns(), idx, table.get_names_map(), validator, folded);
    statement_sink db;
    ib.build_indexes(db);
    EXPECT_EQ(db.utf8(),
              (std::vector<std::string>{
                  "DROP INDEX IF EXISTS \"sales\".\"primary\"",
                  "ALTER TABLE \"sales\".\"items\" ADD CONSTRAINT \"primary\" PRIMARY KEY (\"id\")",
                  "DROP INDEX IF EXISTS \"sales\".\"ux_name\"",
                  "CREATE UNIQUE INDEX \"ux_name\" ON \"sales\".\"items\" (\"name\")",
                  "DROP INDEX IF EXISTS \"sales\".\"ix_x\"",
                  "CREATE INDEX \"ix_x\" ON \"sales\".\"items\" (\"x\") INCLUDE (\"name\", \"gone\")",
                  "DROP INDEX IF EXISTS \"sales\".\"ix_missing\"",
                  "DROP INDEX IF EXISTS \"sales\".\"ix_empty\"",
                  "CREATE INDEX \"ix_empty\" ON \"sales\".\"items\" ()"}));
}

// A key on a prefix indexes the prefix: characters of a text, bytes of a binary column; other
// kinds (a uuid) keep the whole column. A primary key on a prefix cannot be a constraint: it
// is a unique index, and the builder names it as carried only in part.
TEST(pgs_index_builder, prefix_keys_index_the_prefix)
{
    udb_schema s = schema_of({col(L"c", VT_BSTR, 20), col(L"b", VT_BYTE_ARRAY, 20), col(L"n", VT_I4),
                              col(L"u", VT_BSTR, 36)});
    s[3].dw_reserved = udb_subtype::uuid;
    udb_indexes idx;
    udb_index pk(L"PRIMARY", true, true, {});
    pk.add_field(L"c", 3);
    pk.add_field(L"n");
    idx.push_back(pk);
    udb_index ub(L"ub", true, false, {});
    ub.add_field(L"b", 2);
    ub.add_field(L"u", 8);
    idx.push_back(ub);
    idx.push_back(udb_index(L"plain", false, false, {L"c"}));

    pgs_schema_initializer table(L"t", s, idx, folded);
    pgs_in_validator validator;
    pgs_indexes_initializer ib(L"t", table.get_columns(), idx, table.get_names_map(), validator, folded);
    statement_sink db;
    ib.build_indexes(db);
    const auto st = db.utf8();
    ASSERT_EQ(st.size(), 6u);
    EXPECT_EQ(st[1], "CREATE UNIQUE INDEX \"primary\" ON \"t\" ((left(\"c\", 3)), \"n\")");
    EXPECT_EQ(st[3], "CREATE UNIQUE INDEX \"ub\" ON \"t\" ((substring(\"b\" from 1 for 2)), \"u\")");
    EXPECT_EQ(st[5], "CREATE INDEX \"plain\" ON \"t\" (\"c\")");
    ASSERT_EQ(ib.not_carried().size(), 1u);
    EXPECT_EQ(ib.not_carried()[0].first, L"Primary key 'PRIMARY' of table 't'");
    // The key's columns stay NOT NULL as a primary key's are.
    EXPECT_TRUE(table.get_columns()[0].b_not_null);
}

TEST(pgs_index_builder, names_unique_across_tables_and_the_destination)
{
    pgs_in_validator validator;
    validator.add_destination_names({L"ix_taken"});
    udb_schema s = schema_of({col(L"id", VT_I4)});
    udb_indexes idx;
    idx.push_back(udb_index(L"PRIMARY", true, true, {L"id"}));
    idx.push_back(udb_index(L"ix_taken", false, false, {L"id"}));

    pgs_schema_initializer t1(L"t1", s, idx, folded);
    pgs_indexes_initializer first(L"t1", t1.get_columns(), idx, t1.get_names_map(), validator, folded);
    pgs_schema_initializer t2(L"t2", s, idx, folded);
    pgs_indexes_initializer second(L"t2", t2.get_columns(), idx, t2.get_names_map(), validator, folded);

    EXPECT_EQ(first.get_indexes()[0].name, L"PRIMARY");
    EXPECT_EQ(first.get_indexes()[1].name, L"ix_taken00000");
    EXPECT_EQ(second.get_indexes()[0].name, L"primary00000");
    EXPECT_EQ(second.get_indexes()[1].name, L"ix_taken00001");
    EXPECT_EQ(first.make_index_statement(first.get_indexes()[0]),
              L"ALTER TABLE \"t1\" ADD CONSTRAINT \"primary\" PRIMARY KEY (\"id\")");
    EXPECT_EQ(second.make_drop_statement(second.get_indexes()[0]), L"DROP INDEX IF EXISTS \"public\".\"primary00000\"");
}

TEST(pgs_index_builder, indexes_follow_renamed_columns)
{
    // The database made "Order/Date" and a 70-character name safe before the builders ran.
    std::wstring long_name(70, L'k');
    udb_schema s = schema_of({col(L"order_date", VT_DATE), col(std::wstring(62, L'k').c_str(), VT_I4)});
    std::vector<std::wstring> originals = {L"Order/Date", long_name};
    udb_indexes idx;
    idx.push_back(udb_index(L"PRIMARY", true, true, {L"Order/Date"}));
    idx.push_back(udb_index(L"ix_long", false, false, {long_name, L"ORDER/DATE"}));

    pgs_schema_initializer t(L"t", s, idx, folded, &originals);
    pgs_in_validator validator;
    pgs_indexes_initializer ib(L"t", t.get_columns(), idx, t.get_names_map(), validator, folded);
    EXPECT_EQ(ib.make_index_statement(ib.get_indexes()[0]),
              L"ALTER TABLE \"t\" ADD CONSTRAINT \"primary\" PRIMARY KEY (\"order_date\")");
    EXPECT_EQ(ib.make_index_statement(ib.get_indexes()[1]),
              L"CREATE INDEX \"ix_long\" ON \"t\" (\"" + std::wstring(62, L'k') + L"\", \"order_date\")");
}

TEST(pgs_index_builder, failed_index_is_logged_counted_and_the_next_is_built)
{
    udb_schema s = schema_of({col(L"a", VT_I4), col(L"b", VT_I4)});
    udb_indexes idx;
    idx.push_back(udb_index(L"ix_a", false, false, {L"a"}));
    idx.push_back(udb_index(L"ix_gone", false, false, {L"no_such_column"}));
    idx.push_back(udb_index(L"ix_b", false, false, {L"b"}));
    pgs_schema_initializer t(L"t", s, idx, folded);
    pgs_in_validator validator;
    pgs_indexes_initializer ib(L"t", t.get_columns(), idx, t.get_names_map(), validator, folded);
    statement_sink db;
    db.fail_when = [](const std::wstring& q) { return q.find(L"\"ix_a\" ON") != std::wstring::npos || q.rfind(L"DROP", 0) == 0; };
    // Refused by the server, or naming a column the table lacks: both left out, both counted.
    EXPECT_EQ(ib.build_indexes(db), 2);
    EXPECT_EQ(db.statements.back(), L"CREATE INDEX \"ix_b\" ON \"t\" (\"b\")");
}

// ---- against the server ----------------------------------------------------------------------

// Runs each statement in its own committed transaction, as the live database does; errors of
// the client library pass to the builders.
class server_sink : public statement_sink {
public:
    explicit server_sink(pqxx::connection& c) : conn(c) {}
    std::unique_ptr<udb_recordset> query(const std::wstring& statement) override
    {
        statements.push_back(statement);
        pqxx::work tx(conn);
        tx.exec(tk_unicode_to_utf8(statement));
        tx.commit();
        return nullptr;
    }
    pqxx::connection& conn;
};

TEST(pgs_builders_server, table_with_hostile_names_comments_serial_and_indexes)
{
    test_env::pg_scratch_db db("qt_builders");
    pqxx::connection conn(db.conninfo());
    {
        pqxx::work tx(conn);
        tx.exec("CREATE SCHEMA sales");
        tx.exec("CREATE TABLE sales.other (z int)");
        tx.exec("CREATE INDEX ix_code ON sales.other (z)");
        tx.commit();
    }

    udb_schema s = schema_of({col(L"Id", VT_I4, 4, false, true), col(L"Code\"X", VT_BSTR, 20, false, false, L"a'b"),
                              col(L"order_date", VT_DATE, 0, false, false, nullptr, 2),
                              col(std::wstring(40, L'\u0416').c_str(), VT_UI8)});
    s[1].comment = L"O'Hara's \"code\"";
    s.seed = 100;
    std::vector<std::wstring> originals = {L"Id", L"Code\"X", L"Order/Date", std::wstring(40, L'\u0416')};
    udb_indexes idx;
    idx.push_back(udb_index(L"PRIMARY", true, true, {L"Id"}));
    idx.push_back(udb_index(L"ix_code", true, false, {L"code\"x", L"Order/Date"}));
    idx.push_back(udb_index(L"ix_wide", false, false, {std::wstring(40, L'\u0416')}));

    pgs_in_validator validator;
    // What the live database tells the validator when it opens the destination.
    validator.add_destination_names({L"ix_code"});
    server_sink sink(conn);
    pgs_schema_initializer table(L"sales.Items", s, idx, folded, &originals);
    table.build_schema(sink);
    pgs_indexes_initializer ib(L"sales.Items", table.get_columns(), idx, table.get_names_map(), validator, folded);
    ib.build_indexes(sink);

    pqxx::work tx(conn);
    auto cols = tx.exec(
        "SELECT column_name, data_type, is_nullable, col_description('sales.items'::regclass, ordinal_position) "
        "FROM information_schema.columns WHERE table_schema = 'sales' AND table_name = 'items' "
        "ORDER BY ordinal_position");
    ASSERT_EQ(cols.size(), 4u);
    EXPECT_EQ(cols[0][0].as<std::string>(), "id");
    EXPECT_EQ(cols[0][2].as<std::string>(), "NO");
    EXPECT_EQ(cols[1][0].as<std::string>(), "code\"x");
    EXPECT_EQ(cols[1][3].as<std::string>(), "O'Hara's \"code\"");
    // Cut to 62 bytes on a character boundary; only A-Z are folded, as PostgreSQL folds.
    EXPECT_EQ(cols[3][0].as<std::string>(), tk_unicode_to_utf8(std::wstring(31, L'\u0416')));
    EXPECT_EQ(cols[3][1].as<std::string>(), "numeric");

    // Every index was made; the one whose name the schema already had got a new name, and the
    // other table's index of that name is untouched.
    auto ixs = tx.exec("SELECT indexname FROM pg_indexes WHERE schemaname = 'sales' ORDER BY indexname");
    std::vector<std::string> names;
    for (const auto& row : ixs) names.push_back(row[0].as<std::string>());
    EXPECT_EQ(names, (std::vector<std::string>{"ix_code", "ix_code00000", "ix_wide", "primary"}));

    // The serial column continues after the source's seed; the default of the text column holds.
    tx.exec("INSERT INTO sales.items (\"code\"\"x\", order_date) VALUES (DEFAULT, '2024-01-01')");
    auto row = tx.exec("SELECT id, \"code\"\"x\" FROM sales.items");
    EXPECT_EQ(row[0][0].as<int>(), 101);
    EXPECT_EQ(row[0][1].as<std::string>(), "a'b");
    tx.commit();

    // UNLOGGED reaches the server.
    udb_schema one = schema_of({col(L"x", VT_I4)});
    udb_indexes none;
    pgs_schema_initializer(L"Scratch", one, none, pgs_ddl_settings{false, true}).build_schema(sink);
    pqxx::work check(conn);
    EXPECT_EQ(check.exec("SELECT relpersistence FROM pg_class WHERE relname = 'scratch'")[0][0].as<std::string>(), "u");
}

}  // namespace
