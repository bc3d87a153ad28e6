#pragma once
// A map of named text properties with a uniform way to reach a child object by
// name. Base of every mutator (database, table and field) and what an engine
// takes as its database properties.

#include <map>
#include <string>

class udb_properties {
public:
    // Keys are compared exactly: "Engine" and "engine" are two properties.
    using property_map = std::map<std::wstring, std::wstring>;

    udb_properties() = default;
    udb_properties(const udb_properties&) = default;
    udb_properties& operator=(const udb_properties&) = default;
    virtual ~udb_properties();

    // The property map itself: a value set through it is seen by later readers.
    virtual property_map& get_properties();
    // The child registered under this source name, or nullptr. Not owned by the caller.
    virtual udb_properties* get_mutator(const std::wstring& name) = 0;
    // The child registered under this new name, or nullptr. Not owned by the caller.
    virtual udb_properties* get_mutator_by_new_name(const std::wstring& name) = 0;

    // Reads one property through get_properties(); a missing key gives an empty
    // text (callers treat a missing and an empty property alike).
    std::wstring get_property(const std::wstring& key);
    // Whether the key is set at all (through get_properties()).
    bool has_property(const std::wstring& key);

protected:
    property_map properties;
};
