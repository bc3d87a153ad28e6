#pragma once
// Naming rules of one kind of name (table, field or index names) of one
// database product, and the making of names that fit them. Each database side
// derives its validators, sets the maximum length and fills the lists of
// illegal characters and reserved words. A validator lives for one table
// creation, one builder or one engine; builders record every name they hand
// out (add_existing_name) so that later names do not collide with earlier ones.
//
// Lookups cost the same however many names are taken: the restricted and
// existing names are also kept case-folded in hash sets, and the counter of a
// numbered safe name starts where the last search for the same stem ended. A
// run that names thousands of tables and indexes (every MySQL primary key is
// called PRIMARY) would otherwise compare each candidate with every name so far.
// The lookups bring those sets up to date, so even they change the validator:
// one thread at a time uses it.

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
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

    // Whether the name is among restricted_names (ignoring case).
    bool is_restricted(const std::wstring& name);

    // Records a taken name (no check for one already there).
    void add_existing_name(const std::wstring& name);
    // Gives back one use of a name whose holder is gone (an index dropped with its
    // table), from each list that holds it: the name is restricted or taken only
    // while some other use of it remains. A name never recorded is left alone; the
    // caller releases only a use it recorded itself.
    void release_name(const std::wstring& name);
    // Records a rename made by the owner (the first pair for an old name stays).
    void add_mapped_pair(const std::wstring& old_name, const std::wstring& new_name);

    std::uint32_t get_max_length() const noexcept { return max_length; }

    // The rules, filled by the derived classes (callers may add reserved words).
    // The two name lists only grow (push_back, add_existing_name); the lookups
    // fold the names added since the last lookup into their sets. A list that is
    // replaced or emptied is read again whole (and forgets the names released).
    std::uint32_t max_length;
    t_names_map names_map;
    std::vector<wchar_t> illegal_chars;
    std::vector<std::wstring> restricted_names;
    std::vector<std::wstring> existing_names;

protected:
    // Numbered safe names: the first counter worth trying after `stem`, and the
    // counter a search has just answered with. Every counter below it was refused
    // (restricted, taken or not acceptable), and names are only added, so it stays
    // refused: a later search for the same stem goes on from there and finds the
    // same name a search from 0 would. Releasing a numbered name moves its stem's
    // counter back to it.
    std::uint32_t first_counter(const std::wstring& stem);
    void note_counter(const std::wstring& stem, std::uint32_t counter);

private:
    // One name list as case-folded names with how often the list holds each, less
    // the uses released, and how much of the list is counted.
    struct folded_names {
        std::unordered_map<std::wstring, std::size_t> names;
        std::size_t indexed = 0;
        std::wstring last;  // the list's entry at indexed - 1, to notice a replaced list

        // Adds the entries of the list after `indexed`; false when the list was
        // replaced or shortened (and so read again whole).
        bool catch_up(const std::vector<std::wstring>& list);
        bool contains(const std::wstring& folded) const { return names.count(folded) != 0; }
        // Takes one use of the name off; true when the name was counted.
        bool release(const std::wstring& folded);
    };
    // Brings both sets up to their lists; forgets the counters when a list was replaced.
    void catch_up();

    folded_names m_restricted;
    folded_names m_existing;
    std::unordered_map<std::wstring, std::uint32_t> m_next_counter;
};

// Destroys a validator held by an owning pointer that may be empty.
void release_validator(std::unique_ptr<udb_validator>& validator) noexcept;
