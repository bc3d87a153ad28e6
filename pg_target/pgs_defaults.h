#pragma once
// The DEFAULT expression of a PostgreSQL column made from a source column's default value, or
// an empty text when the column is to get no default. A default that PostgreSQL would refuse
// (out of the column type's range, not a number, not a boolean) is dropped rather than written:
// a table without that default is better than no table. Bytes of a binary column become a
// bytea literal; an expression of the source is carried when PostgreSQL evaluates it alike
// (plain arithmetic, text functions of the same name and result, a hexadecimal literal, the
// current moment, uuid()). A default marked as an expression already (t_ftd::default_is_expression,
// set by a type mapping) is returned as it stands.
#include <string>

struct t_ftd;

// A null column is an internal error (tk_mail_assertion "pgs_util", 710).
std::wstring make_pgs_def_val(const t_ftd* column);
inline std::wstring make_pgs_def_val(const t_ftd& column) { return make_pgs_def_val(&column); }

// Whether the source gave the column a default that make_pgs_def_val cannot carry (an
// expression without a PostgreSQL form, a value the column's type refuses, a text holding a
// zero character): such a column is reported, since it arrives without its default.
bool pgs_default_is_lost(const t_ftd& column);
