// A mode-1 rerun gives the index and key names of the run before it even when the destination
// was opened more than once before the conversion (the wizard's pages list its schemas): the
// names it held are counted once, so the overwritten tables get them back.
#include "driver/driver_test_support.h"

namespace {

using strings = std::vector<std::string>;

class rerun_names_run_test : public driver_server_test {
protected:
    // A convertor as a new session of the wizard makes it, for the same databases.
    void new_session()
    {
        conv = std::make_unique<pelmora_convertor>(convertor_form::console);
        connect_test_servers(*conv);
        conv->set_source(tk_utf8_to_unicode(source_name));
        conv->set_destination(tk_utf8_to_unicode(dest_name));
        conv->set_mode(1);
    }
    strings names()
    {
        return rows("SELECT t.relname || '.' || i.relname FROM pg_index x JOIN pg_class i ON i.oid = x.indexrelid"
                    " JOIN pg_class t ON t.oid = x.indrelid WHERE t.relnamespace = 'public'::regnamespace"
                    " ORDER BY 1");
    }
};

TEST_F(rerun_names_run_test, a_destination_opened_before_the_run_gives_back_its_names)
{
    source("CREATE TABLE a (id INT PRIMARY KEY, n INT, KEY ix_n (n));"
           "CREATE TABLE b (id INT PRIMARY KEY, n INT, KEY ix_n (n));"
           "INSERT INTO a VALUES (1, 1); INSERT INTO b VALUES (1, 1);");
    dest("CREATE TABLE user_t (a INTEGER); CREATE INDEX ix_n ON user_t (a)");
    conv->set_mode(1);
    run();
    ASSERT_EQ(conv->outcome(), conversion_outcome::completed);
    const strings first = names();
    EXPECT_EQ(first, (strings{"a.ix_n00000", "a.primary", "b.ix_n00001", "b.primary00000", "user_t.ix_n"}));

    for (int session = 0; session < 2; ++session) {
        conv.reset();
        new_session();
        EXPECT_FALSE(conv->get_pgs_schemas(tk_utf8_to_unicode(dest_name)).empty());
        EXPECT_TRUE(conv->is_schema_exist(tk_utf8_to_unicode(dest_name), L"public"));
        run();
        ASSERT_EQ(conv->outcome(), conversion_outcome::completed);
        EXPECT_EQ(names(), first) << "session " << session;
    }
}

}  // namespace
