#pragma once
// A record key as text: the key columns of one row, each an element <name>value</name>, one
// after another (white space between elements is allowed). In a value "&lt;", "&gt;" and "&amp;"
// stand for '<', '>' and '&'; a name is taken as it is written.
//
// The text is read here once, for every side. Each side turns the elements into a WHERE
// condition with its own quoting (udb_key_condition with the side's term maker), so no dialect
// lives in this unit.
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "TK/tk_exception.h"

struct t_ftd;
class udb_schema;

// One element of a key text.
struct udb_key_element {
    std::wstring name;   // as written in the tags
    std::wstring value;  // entities decoded
    bool operator==(const udb_key_element&) const = default;
};

// A key text that is not a run of well-formed elements: it cannot select a row, and guessing
// what it meant could select the wrong one. Level 1. The message names the first fault and
// the character (counted from 1) where it was found.
class udb_key_text_exception : public tk_exception {
public:
    udb_key_text_exception(const std::string& fault, std::size_t offset);
    // Offset (from 0) in the key text where the fault was found.
    std::size_t offset() const noexcept { return m_offset; }

private:
    std::size_t m_offset;
};

// The elements of a key text, in order; an empty text (or one of white space only) has none.
// Each entity of a value is decoded once ("&amp;lt;" is the text "&lt;").
// udb_key_text_exception for: text outside an element, an opening tag without its '>', an
// empty name, a '<' in a name, a value without its closing tag, a closing tag that names
// another element, an '&' that opens none of the three entities.
std::vector<udb_key_element> udb_parse_record_key(std::wstring_view key);

// Makes one term of a key condition ("column=value" in the side's quoting) from the column
// the element names and the element's decoded value.
using udb_key_term_maker = std::function<std::wstring(const t_ftd& column, const std::wstring& value)>;

// The WHERE condition of a key text over a table's columns: for each element the term that
// make_term gives for its column (looked up by name ignoring case) and value, terms joined by
// " and ". An empty key text gives an empty condition, which a caller must never send as a
// WHERE clause. udb_key_text_exception for a malformed text; udb_structure_exception (level
// 0) for a name that is no column.
std::wstring udb_key_condition(const udb_schema& columns, std::wstring_view key, const udb_key_term_maker& make_term);
