#include "UDB/udb_properties.h"

udb_properties::~udb_properties() = default;

udb_properties::property_map& udb_properties::get_properties()
{
    return properties;
}

std::wstring udb_properties::get_property(const std::wstring& key)
{
    const property_map& map = get_properties();
    auto it = map.find(key);
    return it == map.end() ? std::wstring() : it->second;
}

bool udb_properties::has_property(const std::wstring& key)
{
    const property_map& map = get_properties();
    return map.find(key) != map.end();
}
