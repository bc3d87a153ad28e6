#include "TK/tk_registry.h"

#include <cstdio>

#include "TK/tk_exception.h"
#include "TK/tk_log.h"
#include "TK/tk_strings.h"
#include "platform/pf_settings.h"

// --- tk_reg_key ---

tk_reg_key::tk_reg_key() = default;

tk_reg_key::~tk_reg_key()
{
    long status = close();
    if (status != tk_reg_success) tk_write_log(3, "Cannot save the settings (status %ld)", status);
}

long tk_reg_key::create(const tk_reg_root* parent, const char* subkey, bool* created)
{
    if (!parent) throw tk_mail_assertion("tk_regk", 64);
    if (!subkey) throw tk_mail_assertion("tk_regk", 64);
    auto store = std::make_unique<pf_settings_file>(pf_settings_file::path_for_key(subkey));
    bool existed = false;
    {
        // The key exists when its file does.
        std::FILE* f = std::fopen(store->file_path().c_str(), "rb");
        if (f) {
            existed = true;
            std::fclose(f);
        }
    }
    if (!store->load()) return tk_reg_read_fault;
    if (created) *created = !existed;
    long status = close();
    m_store = std::move(store);
    m_dirty = false;
    return status;
}

long tk_reg_key::close()
{
    long status = flush();
    m_store.reset();
    m_dirty = false;
    return status;
}

long tk_reg_key::flush()
{
    if (!m_store || !m_dirty) return tk_reg_success;
    if (!m_store->save()) return tk_reg_write_fault;
    m_dirty = false;
    return tk_reg_success;
}

std::string tk_reg_key::get_file_path() const { return m_store ? m_store->file_path() : std::string(); }

long tk_reg_key::get_value(std::uint32_t& result, const char* name)
{
    if (!name) throw tk_mail_assertion("tk_regk", 98);
    tk_write_log(2, "tk_reg_key::get_value(ulong, %s)", name);
    if (!m_store) return tk_reg_invalid_handle;
    const pf_setting* value = m_store->find(name);
    if (!value) return tk_reg_file_not_found;
    tk_write_log(1, "type=%d, size=%d", static_cast<int>(value->kind), 4);
    if (value->kind != pf_setting_kind::number) return tk_reg_invalid_data;
    result = value->number;
    return tk_reg_success;
}

long tk_reg_key::get_value(std::string& result, const char* name)
{
    if (!name) throw tk_mail_assertion("tk_regk", 116);
    tk_write_log(2, "tk_reg_key::get_value(LPSTR, %s)", name);
    if (!m_store) return tk_reg_invalid_handle;
    const pf_setting* value = m_store->find(name);
    if (!value) return tk_reg_file_not_found;
    tk_write_log(1, "type=%d, size=%d", static_cast<int>(value->kind), static_cast<int>(value->text.size() + 1));
    if (value->kind == pf_setting_kind::number) return tk_reg_invalid_data;
    // Both text kinds hold UTF-8 bytes, which is the narrow form too.
    result = value->text;
    return tk_reg_success;
}

long tk_reg_key::get_value(std::wstring& result, const wchar_t* name)
{
    if (!name) throw tk_mail_assertion("tk_regk", 133);
    tk_write_wlog(2, L"tk_reg_key::get_value(LPWSTR, %s)", name);
    if (!m_store) return tk_reg_invalid_handle;
    const pf_setting* value = m_store->find(tk_unicode_to_utf8(name));
    if (!value) return tk_reg_file_not_found;
    tk_write_log(1, "type=%d, size=%d", static_cast<int>(value->kind), static_cast<int>(value->text.size() + 1));
    if (value->kind == pf_setting_kind::number) return tk_reg_invalid_data;
    result = tk_utf8_to_unicode(value->text);
    return tk_reg_success;
}

long tk_reg_key::set_value(std::uint32_t number, const char* name)
{
    if (!m_store) throw tk_mail_assertion("tk_regk", 149);
    if (!name) throw tk_mail_assertion("tk_regk", 149);
    pf_setting value;
    value.kind = pf_setting_kind::number;
    value.number = number;
    m_store->set(name, std::move(value));
    m_dirty = true;
    return tk_reg_success;
}

long tk_reg_key::set_value(const char* text, const char* name)
{
    if (!text) throw tk_mail_assertion("tk_regk", 156);
    if (!m_store) throw tk_mail_assertion("tk_regk", 157);
    if (!name) throw tk_mail_assertion("tk_regk", 157);
    pf_setting value;
    value.kind = pf_setting_kind::narrow_text;
    value.text = text;
    m_store->set(name, std::move(value));
    m_dirty = true;
    return tk_reg_success;
}

long tk_reg_key::set_value(const wchar_t* text, const wchar_t* name)
{
    if (!text) throw tk_mail_assertion("tk_regk", 164);
    if (!m_store) throw tk_mail_assertion("tk_regk", 165);
    if (!name) throw tk_mail_assertion("tk_regk", 165);
    pf_setting value;
    value.kind = pf_setting_kind::wide_text;
    value.text = tk_unicode_to_utf8(text);
    m_store->set(tk_unicode_to_utf8(name), std::move(value));
    m_dirty = true;
    return tk_reg_success;
}

long tk_reg_key::delete_value(const char* name)
{
    if (!name) throw tk_mail_assertion("tk_regk", 98);
    if (!m_store) return tk_reg_invalid_handle;
    if (!m_store->erase(name)) return tk_reg_file_not_found;
    m_dirty = true;
    return tk_reg_success;
}

// --- tk_serializer ---

tk_serializer::tk_serializer(std::string key_path) : m_key_path(std::move(key_path)) {}

tk_serializer::~tk_serializer() = default;

long tk_serializer::open_key() { return m_key.create(tk_reg_root::current_user, m_key_path); }

long tk_serializer::close_key() { return m_key.close(); }

bool tk_serializer::serialize_item(tk_reg_key& key, const char* name, bool& value, bool store)
{
    if (!key.is_open()) return false;
    if (store) return key.set_value(value ? 1u : 0u, name) == tk_reg_success;
    std::uint32_t number = 0;
    if (key.get_value(number, name) != tk_reg_success) return false;
    value = number != 0;
    return true;
}

bool tk_serializer::serialize_item(tk_reg_key& key, const char* name, std::uint32_t& value, bool store)
{
    if (!key.is_open()) return false;
    if (store) return key.set_value(value, name) == tk_reg_success;
    return key.get_value(value, name) == tk_reg_success;
}

bool tk_serializer::serialize_item(tk_reg_key& key, const char* name, std::int32_t& value, bool store)
{
    std::uint32_t number = static_cast<std::uint32_t>(value);
    if (!serialize_item(key, name, number, store)) return false;
    value = static_cast<std::int32_t>(number);
    return true;
}

bool tk_serializer::serialize_item(tk_reg_key& key, const char* name, std::string& value, bool store)
{
    if (!key.is_open()) return false;
    if (store) return key.set_value(value.c_str(), name) == tk_reg_success;
    return key.get_value(value, name) == tk_reg_success;
}

bool tk_serializer::serialize_item(tk_reg_key& key, const wchar_t* name, std::wstring& value, bool store)
{
    if (!key.is_open()) return false;
    if (store) return key.set_value(value.c_str(), name) == tk_reg_success;
    return key.get_value(value, name) == tk_reg_success;
}
