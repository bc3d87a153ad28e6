#pragma once
// One field value in flight: an ole_variant with the column's name, a size
// and copies of the column's NOT NULL and auto-increment flags. Records are
// built per row, so a field is cheap to build, move and reuse: assigning a new
// value keeps the name's storage.

#include <cstdint>
#include <string>

#include "TK/ole_variant.h"

class udb_field : public ole_variant {
public:
    // VT_EMPTY, empty name, size 0, both flags false.
    udb_field() noexcept = default;
    // size: the value's length as the source reported it (the MySQL engine:
    // bytes of the value; the PostgreSQL reader: the column's declared size).
    udb_field(std::wstring name, std::uint32_t size, const ole_variant& value, bool not_null = false,
              bool auto_increment = false);
    udb_field(std::wstring name, std::uint32_t size, ole_variant&& value, bool not_null = false,
              bool auto_increment = false) noexcept;
    udb_field(const udb_field&) = default;
    udb_field(udb_field&&) noexcept = default;
    udb_field& operator=(const udb_field&) = default;
    udb_field& operator=(udb_field&&) noexcept = default;
    ~udb_field() override;

    // Assigning a value (an ole_variant, a text or bytes) replaces only the
    // value; name, size and flags stay.
    using ole_variant::operator=;

    // The value's kind.
    virtual VARTYPE get_type() const;

    // Size of the value's data: the element count of a one-dimensional byte
    // array, the character count of a text, otherwise the stored size.
    std::uint32_t get_data_size() const;

    const std::wstring& get_name() const noexcept { return m_name; }
    std::wstring& get_name() noexcept { return m_name; }
    void set_name(std::wstring name) { m_name = std::move(name); }

    std::uint32_t get_size() const noexcept { return m_size; }
    void set_size(std::uint32_t size) noexcept { m_size = size; }
    bool is_not_null() const noexcept { return m_not_null; }
    void set_not_null(bool on) noexcept { m_not_null = on; }
    bool is_auto_increment() const noexcept { return m_auto_increment; }
    void set_auto_increment(bool on) noexcept { m_auto_increment = on; }

    // The value part.
    ole_variant& value() noexcept { return *this; }
    const ole_variant& value() const noexcept { return *this; }
    void set_value(const ole_variant& v) { ole_variant::operator=(v); }
    void set_value(ole_variant&& v) noexcept { ole_variant::operator=(std::move(v)); }

private:
    std::uint32_t m_size = 0;
    std::wstring m_name;
    bool m_not_null = false;
    bool m_auto_increment = false;
};
