#include "pg_target/pgs_mutator.h"

#include "pg_target/pgs_defaults.h"

VARTYPE udb_native_type_traits<pgs_native_type>::udb_type(const pgs_native_type& native)
{
    return native.get_udb_type();
}

std::wstring udb_native_type_traits<pgs_native_type>::type_text(const pgs_native_type& native)
{
    return pgs_get_native_type2(native);
}

std::wstring udb_native_type_traits<pgs_native_type>::name_only_type(const t_ftd& column)
{
    return pgs_get_native_type1(column, true);
}

std::wstring udb_native_type_traits<pgs_native_type>::default_expression(const t_ftd& column)
{
    return make_pgs_def_val(&column);
}

template class udb_db_mutator<pgs_table_mutator, pgs_map, pgs_typ>;
