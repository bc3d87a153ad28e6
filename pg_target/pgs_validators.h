#pragma once
// PostgreSQL names: the name forms that every identifier of a statement passes through (case
// folding, quoting, schema.table splitting), and the validators that decide whether a name may
// be used unchanged and make a usable, unique one when not.
//
// PostgreSQL keeps 63 bytes of an identifier (NAMEDATALEN - 1) and silently cuts longer ones,
// so lengths here are UTF-8 bytes, and names are cut only on a character boundary: a name of
// 40 Cyrillic letters is 80 bytes and does not fit, a name of 63 ASCII letters does.
//
// The name forms take the case switch as an argument; pgs_engine's make_name* operations pass
// its is_case_sens flag. Folding changes A-Z only, as PostgreSQL folds unquoted names.
#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "TK/tk_singleton.h"
#include "UDB/udb_validator.h"

class udb_indexes;
class udb_record;
class udb_schema;

// PostgreSQL's identifier budget in UTF-8 bytes.
constexpr std::size_t pgs_max_name_bytes = 63;

// ---- lengths in bytes ----------------------------------------------------------------------

// The longest prefix of the name whose UTF-8 form takes at most max_bytes bytes.
std::wstring pgs_cut_to_bytes(std::wstring_view name, std::size_t max_bytes);

// The name as the server stores it: cut to 63 bytes. Use it when a name that may be longer is
// matched against names read back from the catalog.
std::wstring pgs_truncate_identifier(std::wstring_view name);

// ---- name forms ------------------------------------------------------------------------------

// A-Z folded to a-z unless names are case-sensitive.
std::wstring pgs_fold_name(std::wstring_view name, bool case_sens);

// True when the text is already a quoted identifier or a quoted schema.name pair ("a", "a""b",
// "s"."t"): such a text is used as it stands and never quoted twice.
bool pgs_is_quoted_name(std::wstring_view name);

// The text of a quoted identifier without its quotes and with doubled quotes made single; any
// other text is returned unchanged.
std::wstring pgs_unquote_name(std::wstring_view name);

// Table, schema and column names of statements. Folds the case unless case_sens; without split
// returns the folded text unquoted (for use inside a literal); with split, a text already in
// quoted form is kept, otherwise the text is split at its first '.' (when that is not the last
// character) and each part is quoted with inner double quotes doubled.
std::wstring pgs_make_name3(std::wstring_view name, bool split, bool case_sens);
// The same on UTF-8 text.
std::string pgs_make_name1(std::string_view name, bool split, bool case_sens);
// Column names of INSERT and UPDATE: quoted as they are (no folding, no splitting), unless the
// text is already quoted.
std::wstring pgs_make_name2(std::wstring_view name);
// Index names: double quotes become '_', folded unless case_sens, then quoted.
std::wstring pgs_make_idx_name(std::wstring_view name, bool case_sens);

// Whether the PostGIS extension keeps a relation of this name in the schema (both as the
// server keeps them). The extension goes into the default schema, public; a table or view of
// a run that took one of these names would meet the extension's own relation there (and a
// script that dropped it would drop the extension's table).
bool pgs_is_extension_relation(std::wstring_view schema, std::wstring_view name);

// ---- validators -----------------------------------------------------------------------------

// Names of at most 63 bytes made of letters, digits, blank, '#', '$', '-', '.' and '_' (a quoted
// name: any text of 1 to 63 bytes between the quotes), not among the restricted names.
class pgs_validator : public udb_validator {
public:
    pgs_validator();
    ~pgs_validator() override;

    bool is_acceptable(const std::wstring& name) override;

    // xmin/xmax (system columns) become x_min/x_max; otherwise the name is cut to 62 bytes,
    // characters that is_acceptable refuses become '_', A-Z are lowered and, when the result is
    // still refused or already in use, a five-digit counter is appended to a stem of at most 57
    // bytes. The result is not recorded among the existing names.
    std::wstring get_safe_name(const std::wstring& name) override;

    // Whether a character may stand in an unquoted name of this side.
    static bool is_name_char(wchar_t c) noexcept;
};

// Column names of one table.
class pgs_fn_validator : public pgs_validator {
public:
    explicit pgs_fn_validator(const udb_record& record);
    explicit pgs_fn_validator(const udb_schema& schema);
    explicit pgs_fn_validator(const std::vector<std::wstring>& names);

    // The destination name of the table's next column, columns taken in order: the name
    // itself when acceptable, else a safe name, which is then reserved so that no later
    // column gets it. Building a table and placing a row's values both name the columns
    // through this, so they agree.
    std::wstring next_column_name(const std::wstring& name);
};

// Table names: both lists become existing names, the first list first.
class pgs_tn_validator : public pgs_validator {
public:
    pgs_tn_validator(const std::vector<std::wstring>& names1, const std::vector<std::wstring>& names2);
};

// Index names of the whole destination; the engine holds the process-wide one.
class pgs_in_validator : public tk_singleton<pgs_in_validator>, public pgs_validator {
public:
    pgs_in_validator();
    ~pgs_in_validator() override;

    // The source index names of a table about to be built (existing names).
    void add_index_names(const udb_indexes& indexes);

    // Index (and constraint) names already present in the destination schema, as the catalog
    // lists them: these are never handed out, so no index of the run replaces or collides with
    // an index of another table. Reading the same catalog again (the destination opened once
    // more) adds only the uses the earlier reads did not have.
    void add_destination_names(const std::vector<std::wstring>& names);

    // Names the run freed in the destination (the indexes and key constraints that went
    // with a table it dropped to make it anew, as the catalog listed them): each gives back
    // one use of the name that the catalog gave, so the table made again gets the names the
    // dropped one had, while a name that another relation still holds (or that the run took
    // or reserved) stays taken.
    void release_dropped_names(const std::vector<std::wstring>& names);

private:
    // The uses of each destination name recorded so far (a name may stand in several schemas).
    std::unordered_map<std::wstring, std::size_t> m_destination;
};
