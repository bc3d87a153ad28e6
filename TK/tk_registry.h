#pragma once
// The store in which the wizard remembers its settings between runs: a
// per-user settings file (see platform/pf_settings.h) in place of the
// registry. tk_reg_key holds one open key with typed reads and writes;
// tk_serializer reads or writes one named item at a time, the direction chosen
// per call. Pattern of use: open the key, serialize every item with the same
// direction, close the key (which saves what was written).

#include <cstdint>
#include <memory>
#include <string>

class pf_settings_file;

// Status codes answered by the key operations (0 is success).
inline constexpr long tk_reg_success = 0;
inline constexpr long tk_reg_file_not_found = 2;  // no such value
inline constexpr long tk_reg_invalid_handle = 6;  // no key held
inline constexpr long tk_reg_invalid_data = 13;   // the value is of another kind
inline constexpr long tk_reg_write_fault = 29;    // the settings file cannot be written
inline constexpr long tk_reg_read_fault = 30;     // the settings file cannot be read

// The root under which keys are opened: the current user's settings.
enum class tk_reg_root { current_user };

class tk_reg_key {
public:
    tk_reg_key();
    ~tk_reg_key();  // closes (and saves) the held key
    tk_reg_key(const tk_reg_key&) = delete;
    tk_reg_key& operator=(const tk_reg_key&) = delete;

    // Opens or creates the key path below the root (backslashes or slashes
    // separate its parts). A null parent is an internal error. created, when
    // given, tells whether the key was new. On failure the held key is
    // unchanged; on success a held key is closed first and the answer is that
    // close's status.
    long create(const tk_reg_root* parent, const char* subkey, bool* created = nullptr);
    long create(tk_reg_root parent, const std::string& subkey, bool* created = nullptr)
    {
        return create(&parent, subkey.c_str(), created);
    }
    // Saves what was written and releases the key; 0 when no key is held.
    long close();
    // Saves what was written so far, keeping the key open.
    long flush();
    bool is_open() const noexcept { return m_store != nullptr; }
    // The settings file behind the held key (empty when none).
    std::string get_file_path() const;

    // Reads; a missing name is an internal error. The value is assigned only
    // on success. A text read the other way (narrow as wide or wide as narrow)
    // is converted; a number is never read as text or text as a number.
    long get_value(std::uint32_t& result, const char* name);
    long get_value(std::string& result, const char* name);
    long get_value(std::wstring& result, const wchar_t* name);

    // Writes; a missing text or no held key is an internal error.
    long set_value(std::uint32_t value, const char* name);
    long set_value(const char* text, const char* name);
    long set_value(const wchar_t* text, const wchar_t* name);

    // Removes a value; tk_reg_file_not_found when there was none.
    long delete_value(const char* name);

private:
    std::unique_ptr<pf_settings_file> m_store;
    bool m_dirty = false;
};

class tk_serializer {
public:
    explicit tk_serializer(std::string key_path);
    virtual ~tk_serializer();

    // Opens (creating when missing) the settings key of this object's path
    // under the current user; answers the status.
    long open_key();
    // Closes the key, saving what was stored; answers the status.
    long close_key();

    const std::string& get_key_path() const noexcept { return m_key_path; }
    tk_reg_key& get_key() noexcept { return m_key; }

    // store true writes the value, false reads it into the value. True on
    // success; without an open key false at once. A failed read leaves the
    // value unchanged. A bool is stored as the number 1 or 0; any nonzero
    // number reads as true.
    bool serialize_item(tk_reg_key& key, const char* name, bool& value, bool store);
    bool serialize_item(tk_reg_key& key, const char* name, std::uint32_t& value, bool store);
    bool serialize_item(tk_reg_key& key, const char* name, std::int32_t& value, bool store);
    bool serialize_item(tk_reg_key& key, const char* name, std::string& value, bool store);
    bool serialize_item(tk_reg_key& key, const wchar_t* name, std::wstring& value, bool store);

    // The same on this object's own key.
    template <class T, class N>
    bool serialize_item(const N* name, T& value, bool store)
    {
        return serialize_item(m_key, name, value, store);
    }

private:
    tk_reg_key m_key;
    std::string m_key_path;
};
