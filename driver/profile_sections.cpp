// The sections a conversion reads from and writes into a profile: "Generic
// settings" and the three lists (udb_converter), "MySQL settings" (the MySQL
// half), "PostgreSQL Settings" (the PostgreSQL half with its switches, UNLOGGED
// tables and the client encoding among them, and the direct flag) and "Type
// Mappings" (the database mutator). A loaded profile sets the engine's naming
// flag with the shown case_sens flag, so every way of running it converts alike.
#include "driver/profile_sections.h"

#include "SQL/sql_engine.h"
#include "TK/tk_exception.h"
#include "TK/tk_log.h"
#include "TK/tk_strings.h"
#include "UDB/udb_profile.h"
#include "driver/mysql_converter_impl.h"
#include "driver/pelmora_convertor.h"
#include "driver/pgs_converter_impl.h"
#include "driver/udb_converter.h"
#include "pg_target/pgs_encoding.h"

std::wstring profile_flag(bool on)
{
    return on ? L"1" : L"0";
}

bool profile_is_on(const std::wstring& value)
{
    return value == L"1";
}

std::wstring profile_one_line(std::wstring text)
{
    std::wstring out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'\r' && i + 1 < text.size() && text[i + 1] == L'\n') {
            out += L' ';
            ++i;
        } else if (text[i] == L'\r' || text[i] == L'\n') {
            out += L' ';
        } else {
            out += text[i];
        }
    }
    return out;
}

namespace {

// Narrow connection texts are UTF-8 in memory and wide in the profile.
std::wstring widen(const std::string& text)
{
    return tk_utf8_to_unicode(text);
}
std::string narrow(const std::wstring& text)
{
    return tk_unicode_to_utf8(text);
}

// A flag that is set when the value is not empty: on exactly for "1".
void read_flag(const udb_profile& profile, const wchar_t* section, const wchar_t* key, bool& flag)
{
    const std::wstring value = profile.get_value(section, key);
    if (!value.empty())
        flag = profile_is_on(value);
}

}  // namespace

// ---------------------------------------------------------------------------
// Generic settings and the lists

bool udb_converter::load_profile(udb_profile& profile)
{
    tk_write_wlog(2, L"udb_converter::load_profile");
    for (const auto& [name, sql] : profile.get_selected_tables()) {
        if (!sql.empty())
            tk_write_wlog(2, L"Loading query '%s'", name.c_str());
        else
            tk_write_wlog(2, L"Loading table '%s'", name.c_str());
        query_list.emplace_back(name, sql);
    }
    for (const auto& entry : profile.get_available_queries())
        available_queries.push_back(entry);
    for (const auto& entry : profile.get_selected_views())
        selected_views.push_back(entry);

    std::wstring value = profile.get_value(profile_generic, L"src");
    if (!value.empty()) {
        tk_write_wlog(2, L"source='%s'", value.c_str());
        set_source(value);
    }
    value = profile.get_value(profile_generic, L"dest");
    if (!value.empty()) {
        tk_write_wlog(2, L"dest='%s'", value.c_str());
        set_destination(value);
    }
    value = profile.get_value(profile_generic, L"logfile");
    if (!value.empty()) {
        const std::string name = tk_unicode_to_ansi(value);
        tk_write_log(1, "Logfile=%s", name.c_str());
        set_logfile(name);
    }
    value = profile.get_value(profile_generic, L"only definitions");
    if (!value.empty())
        tab_def = value != L"0";
    value = profile.get_value(profile_generic, L"mode");
    if (!value.empty()) {
        // Only a digit of a known mode: any other value would leave the run
        // without a rule for existing tables.
        if (value.size() != 1 || value[0] < L'0' || value[0] > L'4')
            throw tk_exception(L"The profile's mode '" + value + L"' is not valid: use a number from 0 to 4.", 1);
        set_mode(value[0] - L'0');
    }
    value = profile.get_value(profile_generic, L"skip indexes");
    if (!value.empty())
        skip_idx = value != L"0";
    return true;
}

bool udb_converter::store_profile(udb_profile& profile)
{
    tk_write_wlog(2, L"udb_converter::store_profile");
    for (const auto& [name, sql] : available_queries) {
        tk_write_wlog(2, L"Available Query: (%s,%s)", name.c_str(), sql.c_str());
        profile.set_value(L"Available Queries", name, profile_one_line(sql));
    }
    // Queries first (their texts on one line), then the tables.
    for (const auto& [name, sql] : query_list)
        if (!sql.empty())
            profile.set_value(L"Selected Tables", name, profile_one_line(sql));
    for (const auto& [name, sql] : query_list) {
        if (!sql.empty())
            continue;
        tk_write_wlog(2, L"Selected Query: (%s,%s)", name.c_str(), sql.c_str());
        profile.set_value(L"Selected Tables", name, sql);
    }
    for (const auto& [name, definition] : selected_views) {
        tk_write_wlog(2, L"Selected View: (%s,%s)", name.c_str(), definition.c_str());
        profile.set_value(L"Selected Views", name, profile_one_line(definition));
    }
    profile.set_value(profile_generic, L"src", get_source());
    profile.set_value(profile_generic, L"dest", get_destination());
    profile.set_value(profile_generic, L"logfile", tk_ansi_to_unicode(get_logfile()));
    profile.set_value(profile_generic, L"skip indexes", profile_flag(skip_idx));
    profile.set_value(profile_generic, L"only definitions", profile_flag(tab_def));
    profile.set_value(profile_generic, L"mode", std::wstring(1, static_cast<wchar_t>(L'0' + n_mode)));
    return true;
}

// ---------------------------------------------------------------------------
// MySQL settings

bool mysql_converter_impl::load_profile(udb_profile& profile)
{
    tk_write_log(2, "mysql_converter_impl::load_profile");
    // A key the profile has sets its setting, also to empty (no host: the local server; a
    // password may be empty); a key or a whole section it lacks leaves the setting as it was.
    if (profile.has_value(profile_mysql, L"host"))
        mysql_host = narrow(profile.get_value(profile_mysql, L"host"));
    std::wstring value = profile.get_value(profile_mysql, L"user");
    if (!value.empty())
        mysql_user = narrow(value);
    if (profile.has_value(profile_mysql, L"password"))
        mysql_password = narrow(profile.get_value(profile_mysql, L"password"));
    value = profile.get_value(profile_mysql, L"port");
    if (!value.empty())
        mysql_port = narrow(value);

    dump_options& d = m_dump_options;
    value = profile.get_value(profile_mysql, L"dump line break");
    if (!value.empty())
        d.line_break = value == L"1" ? 1 : 0;
    read_flag(profile, profile_mysql, L"dump new version", d.new_version);
    read_flag(profile, profile_mysql, L"dump add lock to insert", d.add_lock_to_insert);
    read_flag(profile, profile_mysql, L"dump insert comments", d.insert_comments);
    read_flag(profile, profile_mysql, L"dump create database", d.create_database);
    read_flag(profile, profile_mysql, L"dump create table", d.create_table);
    return true;
}

bool mysql_converter_impl::store_profile(udb_profile& profile)
{
    tk_write_log(2, "mysql_converter_impl::store_profile");
    profile.set_value(profile_mysql, L"host", widen(mysql_host));
    profile.set_value(profile_mysql, L"user", widen(mysql_user));
    profile.set_value(profile_mysql, L"password", widen(mysql_password));
    profile.set_value(profile_mysql, L"port", widen(mysql_port));
    const dump_options& d = m_dump_options;
    profile.set_value(profile_mysql, L"dump line break", profile_flag(d.line_break == 1));
    profile.set_value(profile_mysql, L"dump new version", profile_flag(d.new_version));
    profile.set_value(profile_mysql, L"dump add lock to insert", profile_flag(d.add_lock_to_insert));
    profile.set_value(profile_mysql, L"dump insert comments", profile_flag(d.insert_comments));
    profile.set_value(profile_mysql, L"dump create database", profile_flag(d.create_database));
    profile.set_value(profile_mysql, L"dump create table", profile_flag(d.create_table));
    return true;
}

// ---------------------------------------------------------------------------
// PostgreSQL settings

bool pgs_converter_impl::load_profile(udb_profile& profile)
{
    tk_write_log(2, "pgs_converter_impl::load_profile");
    auto text = [&](const wchar_t* key, std::string& field) {
        const std::wstring value = profile.get_value(profile_pgs, key);
        if (!value.empty())
            field = narrow(value);
    };
    auto wide = [&](const wchar_t* key, std::wstring& field) {
        const std::wstring value = profile.get_value(profile_pgs, key);
        if (!value.empty())
            field = value;
    };
    text(L"host", pgs_host);
    text(L"user", pgs_user);
    text(L"password", pgs_password);
    std::wstring value = profile.get_value(profile_pgs, L"schema");
    if (!value.empty()) {
        tk_write_wlog(1, L"pgs_schema=%s", value.c_str());
        pgs_schema = value;
    }
    value = profile.get_value(profile_pgs, L"port");
    if (!value.empty()) {
        pgs_port = mysql_converter_impl::parse_port(narrow(value));
        if (pgs_port <= 0 || pgs_port > 65535) {
            pgs_port = 0;
            throw tk_exception("Invalid port number", 1);
        }
    }
    // Checked before any switch is applied: the run would refuse the name
    // only after the destination was prepared.
    value = profile.get_value(profile_pgs, L"client encoding");
    if (!value.empty()) {
        std::wstring encoding = pgs_find_offered_encoding(value);
        if (encoding.empty())
            throw tk_exception(L"The profile's client encoding '" + value +
                                   L"' is not a PostgreSQL encoding the program offers.",
                               1);
        client_encoding = std::move(encoding);
    }
    pgs_engine& e = *m_engine;
    read_flag(profile, profile_pgs, L"unlogged tables", e.unlogged);
    read_flag(profile, profile_pgs, L"use SSL", e.ssl_use);
    wide(L"root certificate", e.ssl_rcert);
    wide(L"revocation list", e.ssl_revoc);
    wide(L"client certificate", e.ssl_ccert);
    wide(L"client key", e.ssl_clkey);
    read_flag(profile, profile_pgs, L"fast insert", e.fast_insert);
    read_flag(profile, profile_pgs, L"use authentication", e.ssl_auth);
    return true;
}

bool pgs_converter_impl::store_profile(udb_profile& profile)
{
    tk_write_log(2, "pgs_converter_impl::store_profile");
    auto text = [&](const wchar_t* key, const std::wstring& value) {
        if (!value.empty())
            profile.set_value(profile_pgs, key, value);
    };
    text(L"host", widen(pgs_host));
    text(L"user", widen(pgs_user));
    text(L"password", widen(pgs_password));
    text(L"schema", pgs_schema);
    if (pgs_port != 0)
        profile.set_value(profile_pgs, L"port", std::to_wstring(pgs_port));
    const pgs_engine& e = *m_engine;
    profile.set_value(profile_pgs, L"fast insert", profile_flag(e.fast_insert));
    profile.set_value(profile_pgs, L"unlogged tables", profile_flag(e.unlogged));
    profile.set_value(profile_pgs, L"client encoding", client_encoding);
    profile.set_value(profile_pgs, L"use SSL", profile_flag(e.ssl_use));
    text(L"root certificate", e.ssl_rcert);
    text(L"revocation list", e.ssl_revoc);
    text(L"client certificate", e.ssl_ccert);
    text(L"client key", e.ssl_clkey);
    profile.set_value(profile_pgs, L"use authentication", profile_flag(e.ssl_auth));
    return true;
}

// ---------------------------------------------------------------------------
// The whole conversion

bool pelmora_convertor::load_profile(udb_profile& profile)
{
    // A profile decides every switch that changes the result, whichever way it
    // is run. One written before it kept UNLOGGED and the client encoding was
    // made with logged tables and UTF8: the wizard must not take them from its
    // remembered settings instead. The console's options before --profile
    // keep theirs (their own defaults are the same).
    if (m_form == convertor_form::wizard) {
        get_pgs_engine().unlogged = false;
        client_encoding = L"UTF8";
    }
    if (!udb_converter::load_profile(profile))
        return false;
    if (!mysql_converter_impl::load_profile(profile))
        return false;
    if (!pgs_converter_impl::load_profile(profile))
        return false;
    if (!pgs_db_mutator::load(profile))
        return false;
    read_flag(profile, profile_pgs, L"direct mode", b_direct);
    read_flag(profile, profile_generic, L"case_sens", b_case_sens);
    // The naming reads the engine's flag: a profile run without the
    // conversion settings page (quick launch, console) must fold names as the
    // same profile run through the pages does.
    get_pgs_engine().is_case_sens = b_case_sens;
    return true;
}

bool pelmora_convertor::store_profile(udb_profile& profile)
{
    if (!udb_converter::store_profile(profile))
        return false;
    if (!mysql_converter_impl::store_profile(profile))
        return false;
    if (!pgs_converter_impl::store_profile(profile))
        return false;
    profile.set_value(profile_generic, L"case_sens", profile_flag(get_pgs_engine().is_case_sens));
    profile.set_value(profile_pgs, L"direct mode", profile_flag(b_direct));
    return true;
}

bool pelmora_convertor::load_profile_file(const std::wstring& path)
{
    udb_profile profile;
    if (!profile.load(path))
        return false;
    return load_profile(profile);
}

bool pelmora_convertor::store_profile_file(const std::wstring& path)
{
    udb_profile profile;
    if (!store_profile(profile))
        return false;
    if (!pgs_db_mutator::store(profile))
        return false;
    return profile.store(path);
}
