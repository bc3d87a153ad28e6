#pragma once
// Naming rules of one kind of name (table, field or index names) of one
// database product, and the making of names that fit them. Each database side
// derives its validators, sets the maximum length and fills the lists of
// illegal characters and reserved words. A validator lives for one table
// creation, one builder or one engine; builders record every name they hand
// out (add_existing_name) so that later names do not collide with earlier ones.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "UDB/udb_names_map.h"

class udb_validator {
public:
    // max_length in characters; 0 means no limit.
    explicit udb_validator(std::uint32_t max_length);
    udb_validator(const udb_validator&) = default;
    udb_validator& operator=(const udb_validator&) = default;
    virtual ~udb_validator();

    // Not too long, not a reserved word (ignoring case), no illegal character.
    // Reports the first failing test only.
    virtual bool is_acceptable(const std::wstring& name);
    // Whether the name is already taken (ignoring case).
    virtual bool is_duplicated(const std::wstring& name);
    // An acceptable, free name made from the given one: A-Z lower-cased, cut to
    // max_length - 1, illegal characters turned into '_', then, when needed, a
    // five-digit counter (00000-99999) after a stem of at most max_length - 6
    // characters. The result is not recorded: callers add it themselves.
    virtual std::wstring get_safe_name(const std::wstring& name);

    // Records a taken name (no check for one already there).
    void add_existing_name(const std::wstring& name);
    // Records a rename made by the owner (the first pair for an old name stays).
    void add_mapped_pair(const std::wstring& old_name, const std::wstring& new_name);

    std::uint32_t get_max_length() const noexcept { return max_length; }

    // The rules, filled by the derived classes (callers may add reserved words).
    std::uint32_t max_length;
    t_names_map names_map;
    std::vector<wchar_t> illegal_chars;
    std::vector<std::wstring> restricted_names;
    std::vector<std::wstring> existing_names;
};

// Destroys a validator held by an owning pointer that may be empty.
void release_validator(std::unique_ptr<udb_validator>& validator) noexcept;
