#include "TK/ole_variant.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "TK/tk_log.h"
#include "TK/tk_strings.h"
#include "platform/pf_date.h"
#include "platform/pf_text.h"

// ---------------------------------------------------------------------------
// Exceptions and options

ole_cast_exception::ole_cast_exception() : tk_exception("Cannot cast from source type to destination type", 0) {}

ole_type_exception::ole_type_exception() : tk_exception("The operating type is not supported yet", 1) {}

bool_mapping_options* get_bool_mapping_options()
{
    return bool_mapping_options::get_instance();
}

namespace {

constexpr char hex_upper[] = "0123456789ABCDEF";

bool is_binary_kind(VARTYPE vt) noexcept
{
    return vt == VT_BLOB || vt == VT_BLOB_OBJECT || vt == VT_BYTE_ARRAY;
}

// ASCII text into a wide text with one allocation at most (assign from
// iterators of another character type would build a temporary first).
void assign_ascii(std::wstring& out, std::string_view text)
{
    out.resize(text.size());
    for (std::size_t k = 0; k < text.size(); ++k) out[k] = wchar_t(static_cast<unsigned char>(text[k]));
}

// UTF-8 (embedded zero bytes kept) to wide text; plain ASCII without the
// general decoder.
void utf8_to_wide(std::string_view text, std::wstring& out)
{
    for (unsigned char c : text) {
        if (c >= 0x80) {
            out = pf_utf8_to_wide(text);
            return;
        }
    }
    assign_ascii(out, text);
}

// Wide text up to its first zero character, as UTF-8, appended.
void append_utf8_up_to_nul(std::string& out, std::wstring_view text)
{
    for (wchar_t c : text) {
        if (c == 0) break;
        if (c > 0 && c < 0x80) out.push_back(char(c));
        else pf_append_utf8(out, char32_t(c));
    }
}

// One look at a text read as UTF-8: whether it is valid, how many characters it has and
// whether a zero byte is among them. Plain ASCII goes eight bytes at a time.
bool scan_utf8(std::string_view text, std::size_t& chars, bool& zero) noexcept
{
    const auto* begin = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = begin + text.size();
    const auto* p = begin;
    constexpr std::uint64_t ones = 0x0101010101010101ull, highs = 0x8080808080808080ull;
    std::uint64_t zero_bits = 0;
    while (end - p >= 8) {
        std::uint64_t w;
        std::memcpy(&w, p, 8);
        if (w & highs) break;
        zero_bits |= (w - ones) & ~w & highs;  // exact for bytes below 0x80
        p += 8;
    }
    const auto* rest = p;
    std::size_t leads = 0;
    bool z = zero_bits != 0;
    unsigned high = 0;
    for (; p < end; ++p) {
        const unsigned c = *p;
        leads += (c & 0xC0) != 0x80;
        z |= c == 0;
        high |= c;
    }
    chars = std::size_t(rest - begin) + leads;
    zero = z;
    if (high < 0x80) return true;
    return pf_is_valid_utf8(std::string_view(reinterpret_cast<const char*>(rest), std::size_t(end - rest)));
}

void append_hex(std::string& out, const std::uint8_t* bytes, std::size_t n)
{
    std::size_t at = out.size();
    out.resize(at + 2 * n);
    char* p = out.data() + at;
    for (std::size_t k = 0; k < n; ++k) {
        p[2 * k] = hex_upper[bytes[k] >> 4];
        p[2 * k + 1] = hex_upper[bytes[k] & 15];
    }
}

template <class T>
void append_int(std::string& out, T v)
{
    char buf[24];
    auto res = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, res.ptr);
}

[[noreturn]] void cast_failed()
{
    throw ole_cast_exception();
}


bool range_of(VARTYPE vt, std::int64_t& lo, std::int64_t& hi) noexcept
{
    switch (vt) {
    case VT_I1: lo = INT8_MIN; hi = INT8_MAX; return true;
    case VT_UI1: lo = 0; hi = UINT8_MAX; return true;
    case VT_I2: lo = INT16_MIN; hi = INT16_MAX; return true;
    case VT_UI2: lo = 0; hi = UINT16_MAX; return true;
    case VT_I4: case VT_INT: lo = INT32_MIN; hi = INT32_MAX; return true;
    case VT_UI4: case VT_UINT: lo = 0; hi = UINT32_MAX; return true;
    default: return false;
    }
}

// The signed value of a small integer kind (and VT_BOOL).
bool small_int_value(const pf_variant& v, std::int64_t& x) noexcept
{
    switch (v.vt) {
    case VT_I1: x = v.cVal; return true;
    case VT_UI1: x = v.bVal; return true;
    case VT_I2: x = v.iVal; return true;
    case VT_UI2: x = v.uiVal; return true;
    case VT_I4: x = v.lVal; return true;
    case VT_INT: x = v.intVal; return true;
    case VT_UI4: x = v.ulVal; return true;
    case VT_UINT: x = v.uintVal; return true;
    case VT_BOOL: x = v.boolVal; return true;
    default: return false;
    }
}

// Reads a whole integer text the way atoi does (blanks, sign, digits, stop at
// anything else; no digits give 0), reporting values that do not fit.
std::int64_t read_int(std::string_view text, bool& overflow) noexcept
{
    return pf_atoll(text, &overflow);
}

// Case-insensitive equality with one of the fixed ASCII truth words. Plain
// ASCII texts are compared directly; any other text goes through the one
// case-insensitive comparison of the toolkit (full case folding rules).
bool equal_word_no_case(std::string_view text, std::string_view word)
{
    bool ascii = true;
    for (unsigned char c : text)
        if (c >= 0x80) {
            ascii = false;
            break;
        }
    if (!ascii) return tk_equal_no_case(text, word);
    if (text.size() != word.size()) return false;
    for (std::size_t k = 0; k < text.size(); ++k) {
        char a = text[k], b = word[k];
        if (a >= 'A' && a <= 'Z') a = char(a + 32);
        if (b >= 'A' && b <= 'Z') b = char(b + 32);
        if (a != b) return false;
    }
    return true;
}

// Replaces every ',' by '.' into a small buffer (numbers are short; longer
// texts go to the heap).
std::string_view comma_to_point(std::string_view text, std::string& storage)
{
    if (text.find(',') == std::string_view::npos) return text;
    storage.assign(text);
    for (char& c : storage)
        if (c == ',') c = '.';
    return storage;
}

// A text that is no number of the asked kind is refused: reading it as 0 (or
// as its leading digits) would put a value into the row that the source never
// held.
[[noreturn]] void not_a_number(std::string_view text, VARTYPE kind)
{
    if (tk_log_wants(2)) tk_write_log(2, "Not a number of kind %d: '%s'", int(kind), std::string(text).c_str());
    throw ole_cast_exception();
}

template <class Char>
int hex_digit(Char c) noexcept
{
    if (c >= '0' && c <= '9') return int(c - '0');
    if (c >= 'A' && c <= 'F') return int(c - 'A' + 10);
    if (c >= 'a' && c <= 'f') return int(c - 'a' + 10);
    return -1;
}

// Hexadecimal text (optionally with a 0x or \x prefix) to a byte array value.
template <class Char>
ole_variant hex_to_binary(std::basic_string_view<Char> text, VARTYPE kind)
{
    ole_variant res;
    if (text.empty()) return res;
    if (text.size() % 2 != 0) {
        tk_write_log(2, "Incorrect BLOB (size is odd)");
        return res;
    }
    std::size_t start = 0;
    if ((text[0] == '0' || text[0] == '\\') && (text[1] == 'x' || text[1] == 'X')) start = 2;
    std::size_t count = (text.size() - start) / 2;
    // A zero character ends the text, as it ends a C text.
    for (std::size_t k = start; k < text.size(); ++k)
        if (text[k] == 0) {
            count = (k - start) / 2;
            break;
        }
    res.allocate_safe_array(std::uint32_t(count));
    std::uint8_t* out = res.src.parray.data.data();
    for (std::size_t k = 0; k < count; ++k) {
        int hi = hex_digit(text[start + 2 * k]);
        int lo = hex_digit(text[start + 2 * k + 1]);
        if (hi < 0 || lo < 0) {
            // Not hexadecimal: refuse rather than invent bytes.
            tk_write_log(3, "Incorrect BLOB (not hexadecimal at position %d)", int(start + 2 * k));
            throw ole_type_exception();
        }
        out[k] = std::uint8_t(hi << 4 | lo);
    }
    res.change_type(kind);
    return res;
}

}  // namespace

// ---------------------------------------------------------------------------
// Construction

ole_variant::ole_variant() noexcept = default;

ole_variant::ole_variant(const ole_variant& that)
{
    copy_from(that);
}

ole_variant::ole_variant(ole_variant&& that) noexcept
{
    move_from(that);
}

ole_variant::ole_variant(const std::vector<std::uint8_t>& bytes)
{
    attach_binary(bytes.data(), bytes.size());
}

ole_variant::ole_variant(const std::uint8_t* bytes, std::size_t count)
{
    attach_binary(bytes, count);
}

ole_variant::ole_variant(double v) noexcept { src.vt = VT_R8; src.dblVal = v; }
ole_variant::ole_variant(bool v) noexcept { src.vt = VT_BOOL; src.boolVal = v ? VARIANT_TRUE : VARIANT_FALSE; }
ole_variant::ole_variant(char v) noexcept { src.vt = VT_I1; src.cVal = std::int8_t(v); }
ole_variant::ole_variant(signed char v) noexcept { src.vt = VT_I1; src.cVal = v; }
ole_variant::ole_variant(unsigned char v) noexcept { src.vt = VT_UI1; src.bVal = v; }
ole_variant::ole_variant(short v) noexcept { src.vt = VT_I2; src.iVal = v; }
ole_variant::ole_variant(unsigned short v) noexcept { src.vt = VT_UI2; src.uiVal = v; }
ole_variant::ole_variant(int v) noexcept { src.vt = VT_I4; src.lVal = v; }
ole_variant::ole_variant(unsigned int v) noexcept { src.vt = VT_UI4; src.ulVal = v; }
ole_variant::ole_variant(long v) noexcept { src.vt = VT_I8; hyper_value = v; }
ole_variant::ole_variant(unsigned long v) noexcept { src.vt = VT_UI8; uhyper_value = v; }
ole_variant::ole_variant(long long v) noexcept { src.vt = VT_I8; hyper_value = v; }
ole_variant::ole_variant(unsigned long long v) noexcept { src.vt = VT_UI8; uhyper_value = v; }
ole_variant::ole_variant(float v) noexcept { src.vt = VT_R4; src.fltVal = v; }
ole_variant::ole_variant(CY v) noexcept { src.vt = VT_CY; src.set_cy(v); }
ole_variant::ole_variant(const DECIMAL& v) noexcept { src.vt = VT_DECIMAL; src.decVal = pf_decimal(v); }
ole_variant::ole_variant(const pf_decimal& v) noexcept { src.vt = VT_DECIMAL; src.decVal = v; }
ole_variant::ole_variant(const ole_date& v) noexcept { set_date(v); }

ole_variant::ole_variant(const char* utf8_text)
{
    if (utf8_text) attach_string(utf8_text);
}

ole_variant::ole_variant(const std::string& utf8_text)
{
    attach_string(utf8_text);
}

ole_variant::ole_variant(const wchar_t* text)
{
    if (text) {
        src.vt = VT_BSTR;
        src.bstrVal = text;
    }
}

ole_variant::ole_variant(const std::wstring& text)
{
    src.vt = VT_BSTR;
    src.bstrVal = text;
}

ole_variant::~ole_variant() = default;

ole_variant& ole_variant::operator=(const ole_variant& that)
{
    if (this != &that) copy_from(that);
    return *this;
}

ole_variant& ole_variant::operator=(ole_variant&& that) noexcept
{
    if (this != &that) move_from(that);
    return *this;
}

ole_variant& ole_variant::operator=(bool v) noexcept
{
    clear();
    src.vt = VT_BOOL;
    src.boolVal = v ? VARIANT_TRUE : VARIANT_FALSE;
    return *this;
}

ole_variant& ole_variant::operator=(char v) noexcept
{
    clear();
    src.vt = VT_I1;
    src.cVal = std::int8_t(v);
    return *this;
}

ole_variant& ole_variant::operator=(signed char v) noexcept
{
    clear();
    src.vt = VT_I1;
    src.cVal = v;
    return *this;
}

ole_variant& ole_variant::operator=(unsigned char v) noexcept
{
    clear();
    src.vt = VT_UI1;
    src.bVal = v;
    return *this;
}

ole_variant& ole_variant::operator=(short v) noexcept
{
    clear();
    src.vt = VT_I2;
    src.iVal = v;
    return *this;
}

ole_variant& ole_variant::operator=(unsigned short v) noexcept
{
    clear();
    src.vt = VT_UI2;
    src.uiVal = v;
    return *this;
}

ole_variant& ole_variant::operator=(int v) noexcept
{
    clear();
    src.vt = VT_I4;
    src.lVal = v;
    return *this;
}

ole_variant& ole_variant::operator=(unsigned int v) noexcept
{
    clear();
    src.vt = VT_UI4;
    src.ulVal = v;
    return *this;
}

ole_variant& ole_variant::operator=(long v) noexcept
{
    clear();
    src.vt = VT_I8;
    hyper_value = v;
    return *this;
}

ole_variant& ole_variant::operator=(unsigned long v) noexcept
{
    clear();
    src.vt = VT_UI8;
    uhyper_value = v;
    return *this;
}

ole_variant& ole_variant::operator=(long long v) noexcept
{
    clear();
    src.vt = VT_I8;
    hyper_value = v;
    return *this;
}

ole_variant& ole_variant::operator=(unsigned long long v) noexcept
{
    clear();
    src.vt = VT_UI8;
    uhyper_value = v;
    return *this;
}

ole_variant& ole_variant::operator=(float v) noexcept
{
    clear();
    src.vt = VT_R4;
    src.fltVal = v;
    return *this;
}

ole_variant& ole_variant::operator=(double v) noexcept
{
    clear();
    src.vt = VT_R8;
    src.dblVal = v;
    return *this;
}

ole_variant& ole_variant::operator=(const std::wstring& text)
{
    attach_wstring(text);
    return *this;
}

ole_variant& ole_variant::operator=(const wchar_t* text)
{
    if (text) attach_wstring(text);
    else clear();
    return *this;
}

ole_variant& ole_variant::operator=(const std::vector<std::uint8_t>& bytes)
{
    attach_binary(bytes.data(), bytes.size());
    return *this;
}

void ole_variant::copy_from(const ole_variant& that)
{
    pf_variant_copy(src, that.src);
    m_utf8_kept = that.m_utf8_kept;
    m_wide_pending = that.m_wide_pending;
    m_utf8_chars = that.m_utf8_chars;
    m_utf8_zero = that.m_utf8_zero;
    if (m_utf8_kept) m_utf8 = that.m_utf8;
    else m_utf8.clear();
    hyper_value = that.hyper_value;
    uhyper_value = that.uhyper_value;
    date_value = that.date_value;
}

void ole_variant::move_from(ole_variant& that) noexcept
{
    src.vt = that.src.vt;
    src.llVal = that.src.llVal;
    src.decVal = that.src.decVal;
    // Storage moves only where the other value has some: a number or date moved into a field
    // leaves the field's text and byte buffers in place (emptied) for its next value.
    if (that.src.bstrVal.empty()) src.bstrVal.clear();
    else src.bstrVal.swap(that.src.bstrVal);
    if (that.src.parray.data.empty()) src.parray.data.clear();
    else src.parray.data.swap(that.src.parray.data);
    src.parray.lower_bound = that.src.parray.lower_bound;
    src.parray.dims = that.src.parray.dims;
    if (that.m_utf8.empty()) m_utf8.clear();
    else m_utf8.swap(that.m_utf8);
    m_utf8_kept = that.m_utf8_kept;
    m_wide_pending = that.m_wide_pending;
    m_utf8_chars = that.m_utf8_chars;
    m_utf8_zero = that.m_utf8_zero;
    hyper_value = that.hyper_value;
    uhyper_value = that.uhyper_value;
    date_value = that.date_value;
    that.clear();
}

void ole_variant::set_date(const ole_date& date) noexcept
{
    const ole_date d = date;  // clear() empties date_value, which `date` may be
    clear();
    src.vt = VT_DATE;
    date_value = d;
    double number = 0;
    if (pf_system_time_to_variant_time(d.src, number)) {
        src.date = number;
    } else if (d.src.wYear == 0 && d.src.wMonth == 0 && d.src.wDay == 0) {
        // A time alone is a fraction of day 0.
        src.date = (d.src.wHour % 24 * 3600000.0 + d.src.wMinute * 60000.0 + d.src.wSecond * 1000.0 +
                    d.src.wMilliseconds) / 86400000.0;
    } else {
        src.date = 0;
    }
}

void ole_variant::set_date_number() noexcept
{
    const SYSTEMTIME& st = date_value.src;
    double number = 0;
    if (st.wYear == 0 && st.wMonth == 0 && st.wDay == 0) {
        // A time alone is a fraction of day 0 (as set_date makes it).
        src.date = (st.wHour % 24 * 3600000.0 + st.wMinute * 60000.0 + st.wSecond * 1000.0 + st.wMilliseconds) /
                   86400000.0;
    } else {
        src.date = pf_fields_to_variant_time(st, number) ? number : 0;
    }
}

namespace {

// Storage a cleared value keeps for the next one (records are reused row after row); a large
// value's room is given back, so a field that once held a large text or BLOB does not keep it.
constexpr std::size_t kept_capacity = 64 * 1024;

template <class Buffer>
void clear_keeping_small(Buffer& b) noexcept
{
    if (b.capacity() * sizeof(typename Buffer::value_type) > kept_capacity)
        Buffer().swap(b);
    else
        b.clear();
}

}  // namespace

void ole_variant::clear() noexcept
{
    src.vt = VT_EMPTY;
    src.llVal = 0;
    clear_keeping_small(src.bstrVal);
    clear_keeping_small(src.parray.data);
    src.parray.lower_bound = 0;
    src.parray.dims = 1;
    clear_keeping_small(m_utf8);
    m_utf8_kept = false;
    m_utf8_zero = false;
    m_utf8_chars = 0;
    m_wide_pending = false;
    hyper_value = 0;
    uhyper_value = 0;
    date_value = ole_date();
}

void ole_variant::release_content() noexcept
{
    if (src.vt == VT_BSTR) {
        std::wstring().swap(src.bstrVal);
        std::string().swap(m_utf8);
        m_utf8_kept = true;  // the empty text, kept as UTF-8
        m_utf8_chars = 0;
        m_utf8_zero = false;
        m_wide_pending = false;
    } else if (pf_is_byte_array_kind(src.vt)) {
        std::vector<std::uint8_t>().swap(src.parray.data);
    }
}

std::string ole_variant::take_utf8_text() noexcept
{
    if (!utf8_text()) return std::string();
    std::string text;
    text.swap(m_utf8);
    release_content();
    return text;
}

std::vector<std::uint8_t> ole_variant::take_byte_vector() noexcept
{
    if (!pf_is_byte_array_kind(src.vt)) return {};
    std::vector<std::uint8_t> bytes;
    bytes.swap(src.parray.data);
    return bytes;
}

// ---------------------------------------------------------------------------
// Kinds, text and bytes

bool ole_variant::is_numeric_type(VARTYPE vt) noexcept
{
    return (vt >= VT_I2 && vt <= VT_CY) || vt == VT_BOOL || vt == VT_DECIMAL || (vt >= VT_I1 && vt <= VT_UINT);
}

bool ole_variant::is_date_or_string_type(VARTYPE vt) noexcept
{
    return vt == VT_DATE || vt == VT_BSTR;
}

void ole_variant::allocate_safe_array(std::uint32_t size, std::size_t room)
{
    if (!pf_is_byte_array_kind(src.vt) || src.parray.dims != 1) {
        clear();
        src.vt = VT_BYTE_ARRAY;
        src.parray.lower_bound = 0;
        src.parray.dims = 1;
    } else if (src.parray.data.capacity() > kept_capacity && size < src.parray.data.capacity() / 2) {
        // The bytes are replaced whole: a much smaller value does not keep a large one's room.
        std::vector<std::uint8_t>().swap(src.parray.data);
    }
    if (room > src.parray.data.capacity()) {
        // The old bytes are replaced: not copied into the new room.
        std::vector<std::uint8_t>().swap(src.parray.data);
        src.parray.data.reserve(room);
    }
    src.parray.data.resize(size);
}

void ole_variant::attach_binary(const std::vector<std::uint8_t>& bytes)
{
    attach_binary(bytes.data(), bytes.size());
}

void ole_variant::attach_binary(const std::uint8_t* bytes, std::size_t count)
{
    // An empty vector still makes a value: an empty BLOB is not NULL.
    if (count > std::numeric_limits<std::uint32_t>::max()) {
        throw tk_exception("Binary value of " + std::to_string(count) +
                               " bytes is larger than a field value can hold (4,294,967,295 bytes)",
                           1);
    }
    // A large array gets room for its hexadecimal form (a short prefix and two digits a byte):
    // a COPY writer makes it where the bytes stand. The room is not touched until then.
    allocate_safe_array(std::uint32_t(count), count >= kept_capacity ? 2 * count + 8 : 0);
    if (count) std::memcpy(src.parray.data.data(), bytes, count);
}

void ole_variant::attach_string(std::string_view utf8_text)
{
    std::size_t chars = 0;
    bool zero = false;
    if (scan_utf8(utf8_text, chars, zero)) {
        // Kept as it came (the capacity of the last text is reused); wide when asked for.
        clear();
        src.vt = VT_BSTR;
        // A large text gets room for its COPY escapes (a backslash before each backslash, tab,
        // line feed and carriage return): a COPY writer escapes it where it stands instead of
        // copying it.
        if (utf8_text.size() > kept_capacity) m_utf8.reserve(utf8_text.size() + count_escaped_bytes(utf8_text));
        m_utf8.assign(utf8_text);
        m_utf8_kept = true;
        m_utf8_chars = chars;
        m_utf8_zero = zero;
        m_wide_pending = true;
        return;
    }
    std::wstring text;
    utf8_to_wide(utf8_text, text);
    clear();
    src.vt = VT_BSTR;
    src.bstrVal = std::move(text);
}

void ole_variant::attach_date_text(std::string_view text)
{
    clear();
    ole_date d;
    if (ole_date::read_mysql_form(text, d, m_utf8)) {
        src.vt = VT_DATE;
        date_value = d;
        set_date_number();
        m_utf8_kept = true;
        return;
    }
    m_utf8.clear();
    ole_date general(text);
    if (general.is_valid()) set_date(general);
}

void ole_variant::attach_wstring(std::wstring_view text)
{
    if (src.vt == VT_BSTR) {
        src.bstrVal.assign(text);  // reuses the capacity
        m_utf8_kept = false;
        m_wide_pending = false;
        return;
    }
    std::wstring copy(text);
    clear();
    src.vt = VT_BSTR;
    src.bstrVal = std::move(copy);
}

std::uint32_t ole_variant::get_safe_array_size(const pf_byte_array& array) noexcept
{
    if (array.dims != 1) return 0;
    return std::uint32_t(array.data.size());
}

std::vector<std::uint8_t>& ole_variant::convert_to_byte_array(const void* bytes, std::size_t count,
                                                              std::vector<std::uint8_t>& out)
{
    out.clear();
    out.resize(count);
    if (count) std::memcpy(out.data(), bytes, count);
    return out;
}

void ole_variant::make_wide() const
{
    utf8_to_wide(m_utf8, src.bstrVal);
    m_wide_pending = false;
}

std::size_t ole_variant::count_escaped_bytes(std::string_view text) noexcept
{
    using bytes16 = unsigned char __attribute__((vector_size(16)));
    const char* p = text.data();
    const std::size_t n = text.size();
    std::size_t i = 0;
    std::size_t count = 0;
    while (n - i >= 16) {
        // Each lane counts its matches; at most 255 rounds before they are added up.
        bytes16 lanes = {};
        const std::size_t stop = i + std::min<std::size_t>((n - i) / 16, 255) * 16;
        for (; i < stop; i += 16) {
            bytes16 v;
            std::memcpy(&v, p + i, 16);
            lanes -= reinterpret_cast<bytes16>((v == '\\') | (v == '\t') | (v == '\n') | (v == '\r'));
        }
        for (int k = 0; k < 16; ++k) count += lanes[k];
    }
    for (; i < n; ++i) {
        const char c = p[i];
        count += c == '\\' || c == '\t' || c == '\n' || c == '\r';
    }
    return count;
}

std::size_t ole_variant::text_length() const noexcept
{
    if (src.vt != VT_BSTR) return 0;
    return m_utf8_kept ? m_utf8_chars : src.bstrVal.size();
}

std::uint32_t ole_variant::get_at(char* buffer, std::uint32_t position, std::uint32_t length) const
{
    if (m_wide_pending) make_wide();
    if (src.vt == VT_BSTR) {
        const std::wstring& t = src.bstrVal;
        if (position >= t.size() || length == 0) return 0;
        // Whole characters only, and never more than the 2 * length bytes
        // the caller's buffer is sized for; the caller advances by the
        // characters consumed.
        const std::size_t budget = 2 * std::size_t(length);
        std::size_t used = 0, consumed = 0;
        std::size_t end = std::min<std::size_t>(t.size(), std::size_t(position) + length);
        for (std::size_t k = position; k < end; ++k) {
            char32_t c = char32_t(t[k]);
            char enc[4];
            std::size_t n;
            if (c < 0x80) {
                enc[0] = char(c);
                n = 1;
            } else {
                std::string tmp;
                pf_append_utf8(tmp, c);
                n = tmp.size();
                std::memcpy(enc, tmp.data(), n);
            }
            if (used + n > budget) break;
            std::memcpy(buffer + used, enc, n);
            used += n;
            ++consumed;
        }
        buffer[used] = '\0';
        return std::uint32_t(consumed);
    }
    if (pf_is_byte_array_kind(src.vt)) {
        if (src.parray.dims != 1) return 0;
        const std::size_t count = src.parray.data.size();
        if (position >= count) return 0;
        std::size_t n = std::min<std::size_t>(length, count - position);
        const std::uint8_t* p = src.parray.data.data() + position;
        for (std::size_t k = 0; k < n; ++k) {
            buffer[2 * k] = hex_upper[p[k] >> 4];
            buffer[2 * k + 1] = hex_upper[p[k] & 15];
        }
        buffer[2 * n] = '\0';
        return std::uint32_t(n);
    }
    return 0;
}

std::uint32_t ole_variant::get_bytes1(const std::uint8_t*& bytes, std::string& text_holder) const
{
    if (src.vt < VT_I2) return 0;
    if (src.vt == VT_BSTR) {
        if (m_wide_pending) make_wide();
        text_holder.clear();
        append_utf8_up_to_nul(text_holder, src.bstrVal);
        bytes = reinterpret_cast<const std::uint8_t*>(text_holder.c_str());
        std::size_t n = src.bstrVal.find(L'\0');
        return std::uint32_t(n == std::wstring::npos ? src.bstrVal.size() : n);
    }
    if (!pf_is_byte_array_kind(src.vt)) throw tk_mail_assertion("ole_var", 1235);
    std::uint32_t n = get_safe_array_size(src.parray);
    if (n > 0) bytes = src.parray.data.data();
    return n;
}

// ---------------------------------------------------------------------------
// Text forms

void ole_variant::append_string(std::string& out) const
{
    switch (src.vt) {
    case VT_BYTE_ARRAY:
    case VT_BLOB:
        if (src.parray.dims == 1 && !src.parray.data.empty()) {
            out += "0x";
            append_hex(out, src.parray.data.data(), src.parray.data.size());
        }
        return;
    case VT_DECIMAL: src.decVal.append_to(out); return;
    case VT_DATE:
        // The kept form is the narrow one as well, except for a time alone (which the narrow
        // form prints after a zero date).
        if (m_utf8_kept && date_value.type != ole_date::type_time) out += m_utf8;
        else date_value.append_to(out, 6);
        return;
    case VT_CY: out += pf_cy_to_str(src.cy()); return;
    case VT_BSTR:
        if (m_utf8_kept) {
            if (m_utf8_zero) out.append(m_utf8, 0, m_utf8.find('\0'));
            else out += m_utf8;
        } else {
            append_utf8_up_to_nul(out, src.bstrVal);
        }
        return;
    case VT_BOOL:
        if (src.boolVal == VARIANT_TRUE) {
            bool_mapping_options* opt = bool_mapping_options::try_instance();
            out += opt && opt->mode == 1 ? "-1" : "1";
        } else {
            out += '0';
        }
        return;
    case VT_R8:
        if (std::isnan(src.dblVal)) {
            tk_write_log(3, "Got NaN, replace it with 0");
            out += '0';
        } else {
            pf_append_exp(out, src.dblVal, 16);
        }
        return;
    case VT_R4:
        if (std::isnan(src.fltVal)) {
            tk_write_log(3, "Got NaN, replace it with 0");
            out += '0';
        } else {
            pf_append_exp(out, double(src.fltVal), 6);
        }
        return;
    case VT_I2: append_int(out, src.iVal); return;
    case VT_I4: append_int(out, src.lVal); return;
    case VT_INT: append_int(out, src.intVal); return;
    case VT_I1: append_int(out, int(src.cVal)); return;
    case VT_UI1: append_int(out, unsigned(src.bVal)); return;
    case VT_UI2: append_int(out, unsigned(src.uiVal)); return;
    case VT_UI4: append_int(out, src.ulVal); return;
    case VT_UINT: append_int(out, src.uintVal); return;
    case VT_I8: append_int(out, hyper_value); return;
    case VT_UI8: append_int(out, uhyper_value); return;
    default: return;
    }
}

std::string ole_variant::to_string() const
{
    std::string s;
    append_string(s);
    return s;
}

std::wstring ole_variant::to_wstring() const
{
    if (src.vt == VT_BSTR) {
        if (m_wide_pending) make_wide();
        std::size_t n = src.bstrVal.find(L'\0');
        return n == std::wstring::npos ? src.bstrVal : src.bstrVal.substr(0, n);
    }
    std::string s;
    append_string(s);
    std::wstring w;
    utf8_to_wide(s, w);
    return w;
}

bool ole_variant::to_bool() const noexcept
{
    switch (src.vt) {
    case VT_I2: return src.iVal != 0;
    case VT_UI2: return src.uiVal != 0;
    case VT_I4: return src.lVal != 0;
    case VT_UI4: return src.ulVal != 0;
    case VT_I1: return src.cVal != 0;
    case VT_UI1: return src.bVal != 0;
    case VT_R4: return src.fltVal != 0;
    case VT_R8: return src.dblVal != 0;
    case VT_CY:
    case VT_DECIMAL: return to_long() != 0;
    case VT_BOOL: return src.boolVal == VARIANT_TRUE;
    case VT_I8: return hyper_value != 0;
    case VT_UI8: return uhyper_value != 0;
    default: return false;
    }
}

std::int32_t ole_variant::to_long() const noexcept
{
    switch (src.vt) {
    case VT_I4: return src.lVal;
    case VT_UI4: return std::int32_t(src.ulVal);
    case VT_R4:
    case VT_R8: {
        double d = src.vt == VT_R4 ? double(src.fltVal) : src.dblVal;
        if (!(d > -2147483649.0 && d < 2147483648.0)) return 0;
        return std::int32_t(d);  // truncation toward zero
    }
    case VT_CY: {
        std::int32_t r = 0;
        return pf_i4_from_cy(src.cy(), r) == pf_status::ok ? r : 0;
    }
    case VT_DECIMAL: {
        std::int32_t r = 0;
        return pf_i4_from_dec(src.decVal, r) == pf_status::ok ? r : 0;
    }
    case VT_BOOL: {
        bool_mapping_options* opt = bool_mapping_options::try_instance();
        if (opt && opt->mode == 1) return src.boolVal;
        return src.boolVal == VARIANT_TRUE ? 1 : 0;
    }
    case VT_I2: return src.iVal;
    case VT_I1: return src.cVal;
    case VT_UI2: return src.uiVal;
    case VT_UI1: return src.bVal;
    case VT_I8: return std::int32_t(std::uint32_t(std::uint64_t(hyper_value)));
    case VT_UI8: return std::int32_t(std::uint32_t(uhyper_value));
    default: return 0;
    }
}

// ---------------------------------------------------------------------------
// change_type

void ole_variant::change_type(VARTYPE to)
{
    const VARTYPE from = src.vt;
    if (to != from) drop_utf8();

    // 1. The two byte-array kinds are synonyms.
    if ((from == VT_BYTE_ARRAY && to == VT_BLOB) || (from == VT_BLOB && to == VT_BYTE_ARRAY)) {
        src.vt = to;
        return;
    }
    // 2. Nothing to do.
    if (to == from || from == VT_EMPTY || from == VT_NULL || (is_binary_kind(from) && is_binary_kind(to))) return;

    // 3. Text to boolean: the SQL truth words only.
    if (from == VT_BSTR && to == VT_BOOL) {
        std::string text = to_string();
        static const char* const yes[] = {"yes", "t", "true"};
        static const char* const no[] = {"no", "f", "false"};
        for (const char* w : yes)
            if (equal_word_no_case(text, w)) {
                clear();
                src.vt = VT_BOOL;
                src.boolVal = VARIANT_TRUE;
                return;
            }
        for (const char* w : no)
            if (equal_word_no_case(text, w)) {
                clear();
                src.vt = VT_BOOL;
                src.boolVal = VARIANT_FALSE;
                return;
            }
        cast_failed();
    }

    // 4./5. From the 64-bit integers. Values that do not fit the target
    // raise instead of being cut to their low bits.
    if (from == VT_I8 || from == VT_UI8) {
        const bool is_signed = from == VT_I8;
        const std::int64_t s = hyper_value;
        const std::uint64_t u = uhyper_value;
        auto fits = [&](std::int64_t lo, std::int64_t hi) {
            if (is_signed) return s >= lo && s <= hi;
            return hi >= 0 && u <= std::uint64_t(hi);
        };
        std::int64_t lo, hi;
        if (range_of(to, lo, hi)) {
            if (!fits(lo, hi)) cast_failed();
            std::int64_t x = is_signed ? s : std::int64_t(u);
            clear();
            src.vt = to;
            pf_store_integer(src, to, x);
            return;
        }
        switch (to) {
        case VT_BOOL: {
            bool t = is_signed ? s != 0 : u != 0;
            clear();
            src.vt = VT_BOOL;
            src.boolVal = t ? VARIANT_TRUE : VARIANT_FALSE;
            return;
        }
        case VT_R4: {
            float f = is_signed ? float(s) : float(u);
            clear();
            src.vt = VT_R4;
            src.fltVal = f;
            return;
        }
        case VT_R8: {
            double d = is_signed ? double(s) : double(u);
            clear();
            src.vt = VT_R8;
            src.dblVal = d;
            return;
        }
        case VT_CY: {
            // Currency counts 1/10,000.
            __int128 c = (is_signed ? __int128(s) : __int128(u)) * pf_cy_scale;
            if (c < INT64_MIN || c > INT64_MAX) cast_failed();
            clear();
            src.vt = VT_CY;
            src.set_cy(CY{std::int64_t(c)});
            return;
        }
        case VT_BSTR: {
            char buf[24];
            auto res = is_signed ? std::to_chars(buf, buf + sizeof buf, s) : std::to_chars(buf, buf + sizeof buf, u);
            clear();
            src.vt = VT_BSTR;
            assign_ascii(src.bstrVal, std::string_view(buf, std::size_t(res.ptr - buf)));
            return;
        }
        case VT_DECIMAL: {
            pf_decimal d = is_signed ? pf_decimal::from_i8(s) : pf_decimal::from_ui8(u);
            clear();
            src.vt = VT_DECIMAL;
            src.decVal = d;
            return;
        }
        case VT_I8:  // from VT_UI8
            if (u > std::uint64_t(INT64_MAX)) cast_failed();
            clear();
            src.vt = VT_I8;
            hyper_value = std::int64_t(u);
            return;
        case VT_UI8:  // from VT_I8
            if (s < 0) cast_failed();
            clear();
            src.vt = VT_UI8;
            uhyper_value = std::uint64_t(s);
            return;
        default:
            if (!is_binary_kind(to)) cast_failed();
            break;  // rule 13 below
        }
    }

    // 6. A date becomes text only.
    if (from == VT_DATE && !is_binary_kind(to)) {
        if (to != VT_BSTR) cast_failed();
        std::wstring text = date_value.to_wstring(6);
        attach_wstring(text);
        return;
    }

    // 7./8. To the 64-bit integers.
    if (to == VT_I8 || to == VT_UI8) {
        const bool to_signed = to == VT_I8;
        std::int64_t x = 0;
        __int128 value = 0;
        if (small_int_value(src, x)) {
            value = x;
        } else if (from == VT_R4 || from == VT_R8) {
            double d = from == VT_R4 ? double(src.fltVal) : src.dblVal;
            if (std::isnan(d)) cast_failed();
            double r = std::nearbyint(d);
            if (r < -9223372036854775808.0 || r >= 18446744073709551616.0) cast_failed();
            value = r < 0 ? -__int128((unsigned __int128)(-r)) : __int128((unsigned __int128)r);
        } else if (from == VT_CY) {
            std::int64_t q = 0;
            if (pf_int_from_dec(pf_decimal::from_cy(src.cy()), INT64_MIN, INT64_MAX, q) != pf_status::ok)
                cast_failed();
            value = q;
        } else if (from == VT_DECIMAL) {
            if (to_signed) {
                std::int64_t q = 0;
                if (pf_i8_from_dec(src.decVal, q) != pf_status::ok) cast_failed();
                value = q;
            } else {
                std::uint64_t q = 0;
                if (pf_ui8_from_dec(src.decVal, q) != pf_status::ok) cast_failed();
                value = q;
            }
        } else {
            cast_failed();
        }
        if (to_signed ? (value < INT64_MIN || value > INT64_MAX) : (value < 0 || value > UINT64_MAX))
            cast_failed();
        clear();
        src.vt = to;
        if (to_signed) hyper_value = std::int64_t(value);
        else uhyper_value = std::uint64_t(value);
        return;
    }

    // 9./10. To the 32- and 16-bit integers, and VT_I1.
    if (to == VT_I4 || to == VT_UI4 || to == VT_I2 || to == VT_UI2 || to == VT_I1) {
        std::int64_t lo = 0, hi = 0;
        range_of(to, lo, hi);
        if ((from == VT_R4 || from == VT_R8) && to != VT_I1) {
            double d = from == VT_R4 ? double(src.fltVal) : src.dblVal;
            if (std::isnan(d)) cast_failed();
            // Half away from zero.
            double r = d >= 0 ? std::floor(d + 0.5) : std::ceil(d - 0.5);
            if (r < double(lo) || r > double(hi)) cast_failed();
            clear();
            src.vt = to;
            pf_store_integer(src, to, std::int64_t(r));
            return;
        }
        if (from == VT_DECIMAL) {
            if (to == VT_I4) tk_write_log(1, "to_string()=%s", to_string().c_str());
            std::int64_t q = 0;
            if (pf_int_from_dec(src.decVal, lo, hi, q) != pf_status::ok) cast_failed();
            clear();
            src.vt = to;
            pf_store_integer(src, to, q);
            return;
        }
        // A text stays text when it is a whole number that fits the target
        // (the destination reads it as that number); any other text is
        // refused rather than read as 0 or as its leading digits.
        if (from == VT_BSTR) {
            std::string text = to_string();
            bool overflow = false;
            if (!pf_is_integer_text(text)) cast_failed();
            std::int64_t x = read_int(text, overflow);
            if (overflow || x < lo || x > hi) cast_failed();
        }
        // Any other source keeps its value and kind.
        return;
    }

    // 11. Text to date.
    if (to == VT_DATE) {
        if (from != VT_BSTR) cast_failed();
        std::string text = to_string();
        ole_date d(text);
        if (!d.is_valid()) cast_failed();
        set_date(d);
        return;
    }

    // 12. From bytes: only text.
    if (is_binary_kind(from)) {
        if (to != VT_BSTR || src.parray.dims != 1) return;
        const auto& bytes = src.parray.data;
        std::size_t n = 0;
        while (n < bytes.size() && bytes[n] != 0) ++n;
        std::wstring text;
        utf8_to_wide(std::string_view(reinterpret_cast<const char*>(bytes.data()), n), text);
        clear();
        src.vt = VT_BSTR;
        src.bstrVal = std::move(text);
        return;
    }

    // 13. To bytes: the value's own bytes.
    if (is_binary_kind(to)) {
        std::vector<std::uint8_t> out;
        auto take = [&](const void* p, std::size_t n) { convert_to_byte_array(p, n, out); };
        switch (from) {
        case VT_I2: case VT_BOOL: case VT_UI2: take(&src.iVal, 2); break;
        case VT_I4: case VT_R4: case VT_UI4: case VT_INT: case VT_UINT: take(&src.lVal, 4); break;
        case VT_R8: case VT_CY: take(&src.dblVal, 8); break;
        case VT_DATE: take(&date_value, sizeof date_value); break;
        case VT_I1: case VT_UI1: take(&src.bVal, 1); break;
        case VT_I8: take(&hyper_value, 8); break;
        case VT_UI8: take(&uhyper_value, 8); break;
        case VT_BSTR: {
            std::string utf8;
            append_utf8_up_to_nul(utf8, src.bstrVal);
            take(utf8.data(), utf8.size());
            break;
        }
        case VT_DECIMAL: {
            // The 16-byte image; a value beyond it has no such image.
            pf_decimal d = src.decVal;
            if (!d.fits_decimal()) {
                auto w = d.words();
                int scale = d.scale();
                while (scale > DECIMAL_MAX_SCALE) {
                    std::uint64_t rem = 0;
                    auto t = w;
                    for (int k = pf_decimal::magnitude_words - 1; k >= 0; --k) {
                        std::uint64_t cur = (rem << 32) | t[k];
                        t[k] = std::uint32_t(cur / 10);
                        rem = cur % 10;
                    }
                    if (rem) break;
                    w = t;
                    --scale;
                }
                d.set_words(w);
                d.set_scale(std::uint8_t(scale));
                if (!d.fits_decimal()) cast_failed();
            }
            DECIMAL image = d.to_DECIMAL();
            image.wReserved = VT_DECIMAL;
            take(&image, sizeof image);
            break;
        }
        default:
            cast_failed();
        }
        // An empty text gives an empty byte array (a value, not NULL).
        clear();
        attach_binary(out.data(), out.size());
        return;
    }

    // 14. Every other pair: the general conversion.
    pf_status st = pf_variant_change_type(src, to);
    if (st != pf_status::ok) {
        if (tk_log_wants(2)) {
            tk_write_log(2, "VariantChangeType failed");
            tk_write_log(2, "to_string()=%s", to_string().c_str());
        }
        cast_failed();
    }
}

// ---------------------------------------------------------------------------
// from_string / from_wstring

ole_variant ole_variant::from_string(const char* text, VARTYPE kind)
{
    return from_string(std::string_view(text ? text : ""), kind);
}

ole_variant ole_variant::from_string(std::string_view text, VARTYPE kind)
{
    ole_variant res;
    if (text.empty() && kind != VT_BSTR) return res;

    if (kind == VT_BYTE_ARRAY || kind == VT_BLOB) return hex_to_binary(text, kind);

    std::string storage;
    switch (kind) {
    case VT_I2:
    case VT_I4:
    case VT_I1:
    case VT_UI1:
    case VT_UI2: {
        if (!pf_is_integer_text(text)) not_a_number(text, kind);
        bool overflow = false;
        std::int64_t v = read_int(text, overflow);
        std::int64_t lo, hi;
        range_of(kind, lo, hi);
        if (overflow || v < lo || v > hi) {
            tk_write_log(3, "Value out of range for its kind (%d)", int(kind));
            throw ole_cast_exception();
        }
        res.src.vt = kind;
        pf_store_integer(res.src, kind, v);
        return res;
    }
    case VT_UI4:
    case VT_UI8: {
        if (!pf_is_integer_text(text)) not_a_number(text, kind);
        // A minus sign is not a huge unsigned number.
        std::size_t i = 0;
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
        std::uint64_t v = 0;
        bool overflow = false;
        if (i < text.size() && text[i] == '-') {
            bool neg_overflow = false;
            std::int64_t sv = pf_atoll(text, &neg_overflow);
            if (sv != 0 || neg_overflow) throw ole_cast_exception();
        } else if (!pf_atoull(text, v, &overflow)) {
            v = 0;
        }
        if (overflow || (kind == VT_UI4 && v > UINT32_MAX)) throw ole_cast_exception();
        res.src.vt = kind;
        if (kind == VT_UI4) res.src.ulVal = std::uint32_t(v);
        else res.uhyper_value = v;
        return res;
    }
    case VT_I8: {
        if (!pf_is_integer_text(text)) not_a_number(text, kind);
        bool overflow = false;
        std::int64_t v = read_int(text, overflow);
        if (overflow) throw ole_cast_exception();
        res.src.vt = VT_I8;
        res.hyper_value = v;
        return res;
    }
    case VT_R4:
    case VT_R8: {
        // ',' is taken as the decimal point, as some servers and locales write it.
        double d = 0;
        if (!pf_atof_strict(comma_to_point(text, storage), d)) not_a_number(text, kind);
        if (kind == VT_R4) {
            res.src.vt = VT_R4;
            res.src.fltVal = float(d);
        } else {
            res.src.vt = VT_R8;
            res.src.dblVal = d;
        }
        return res;
    }
    case VT_CY: {
        CY cy;
        pf_status st = pf_cy_from_str(comma_to_point(text, storage), cy);
        if (st != pf_status::ok) {
            // Neither a NULL nor a 0 in place of an amount that cannot be read.
            tk_write_log(2, "VarCyFromStr failed: %08X", unsigned(st));
            not_a_number(text, kind);
        }
        res.src.vt = VT_CY;
        res.src.set_cy(cy);
        return res;
    }
    case VT_DATE: res.attach_date_text(text); return res;
    case VT_BOOL: {
        static const char* const yes[] = {"1", "yes", "t", "true"};
        static const char* const no[] = {"0", "no", "f", "false"};
        res.src.vt = VT_BOOL;
        for (const char* w : yes)
            if (equal_word_no_case(text, w)) {
                res.src.boolVal = VARIANT_TRUE;
                return res;
            }
        for (const char* w : no)
            if (equal_word_no_case(text, w)) {
                res.src.boolVal = VARIANT_FALSE;
                return res;
            }
        // Otherwise a number: any that is not 0 is true.
        if (pf_is_integer_text(text)) {
            bool overflow = false;
            res.src.boolVal = read_int(text, overflow) != 0 || overflow ? VARIANT_TRUE : VARIANT_FALSE;
            return res;
        }
        double d = 0;
        if (!pf_atof_strict(comma_to_point(text, storage), d)) not_a_number(text, kind);
        res.src.boolVal = d != 0 ? VARIANT_TRUE : VARIANT_FALSE;
        return res;
    }
    case VT_DECIMAL: {
        std::string_view t = comma_to_point(text, storage);
        pf_decimal d;
        pf_status st = pf_dec_from_str(t, d);
        if (st == pf_status::ok) {
            res.src.vt = VT_DECIMAL;
            res.src.decVal = d;
            return res;
        }
        if (tk_log_wants(2))
            tk_write_log(2, "ERROR: VarDecFromStr for '%s' failed (hr=%08X)", std::string(text).c_str(), unsigned(st));
        if (st == pf_status::overflow) {
            // A number beyond the exact range is not silently made a double.
            throw ole_cast_exception();
        }
        // A number the exact reader refuses (an exponent form, say) still
        // travels as a double; a text that is no number at all fails.
        double r = 0;
        if (!pf_atof_strict(t, r)) not_a_number(text, kind);
        res.src.vt = VT_R8;
        res.src.dblVal = r;
        return res;
    }
    default:
        break;
    }

    // Default path: the text itself, converted by the general rules.
    res.attach_string(text);
    if (kind == VT_BSTR) return res;
    res.drop_utf8();
    if (pf_variant_change_type(res.src, kind) != pf_status::ok) throw ole_type_exception();
    return res;
}

ole_variant ole_variant::from_wstring(const wchar_t* text, VARTYPE kind)
{
    return from_wstring(std::wstring_view(text ? text : L""), kind);
}

ole_variant ole_variant::from_wstring(std::wstring_view text, VARTYPE kind)
{
    if (kind == VT_BYTE_ARRAY || kind == VT_BLOB) return hex_to_binary(text, kind);
    if (kind == VT_BSTR) {
        ole_variant res;
        res.src.vt = VT_BSTR;
        std::size_t n = text.find(L'\0');
        res.src.bstrVal.assign(n == std::wstring_view::npos ? text : text.substr(0, n));
        return res;
    }
    // Numbers and dates are short ASCII texts: no heap for them.
    char small[128];
    bool ascii = text.size() <= sizeof small;
    if (ascii) {
        for (std::size_t k = 0; k < text.size(); ++k) {
            wchar_t c = text[k];
            if (c < 0 || c >= 0x80) {
                ascii = false;
                break;
            }
            small[k] = char(c);
        }
    }
    if (ascii) return from_string(std::string_view(small, text.size()), kind);
    std::string utf8 = pf_wide_to_utf8(text);
    return from_string(std::string_view(utf8), kind);
}
