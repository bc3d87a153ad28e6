#pragma once
// ole_variant: the tagged value in which every field value travels. The
// database sides build one for each column value they read, the PostgreSQL
// side prints them into COPY lines, INSERT statements and scripts, and the
// field mutators convert them between kinds.
//
// Kinds are the VARTYPE codes of platform/pf_value.h. The signed and unsigned
// 64-bit integers and the date live in their own members (hyper_value,
// uhyper_value, date_value); everything else in `src`.
//
// Cost: building, copying and printing a number, date or decimal allocates
// nothing; text and bytes own their storage, and so does the printed form a
// date read from its text keeps (a value given a new one reuses the storage of
// the last; a copy of a timestamp with a fraction allocates). All printing and
// parsing uses '.' as the decimal point whatever the process locale.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "TK/ole_date.h"
#include "TK/tk_exception.h"
#include "TK/tk_singleton.h"
#include "platform/pf_decimal.h"
#include "platform/pf_value.h"
#include "platform/pf_variant.h"

// A conversion between kinds is not possible, or its result would not fit
// (level 0: the user may continue with the next value).
class ole_cast_exception : public tk_exception {
public:
    ole_cast_exception();
};

// A text cannot be made a value of the requested kind (level 1).
class ole_type_exception : public tk_exception {
public:
    ole_type_exception();
};

// Present only when booleans should print as "-1" (mode 1); neither program
// builds it, so booleans print as "1" and "0".
class bool_mapping_options : public tk_singleton<bool_mapping_options> {
public:
    explicit bool_mapping_options(std::int32_t mode_ = 0) : mode(mode_) {}
    std::int32_t mode;
};
// The options object; tk_mail_assertion when there is none.
bool_mapping_options* get_bool_mapping_options();

class ole_variant {
public:
    std::int64_t hyper_value = 0;    // value of VT_I8
    std::uint64_t uhyper_value = 0;  // value of VT_UI8
    ole_date date_value;             // value of VT_DATE (src.date is derived from it)
    // Kind (src.vt) and every other payload. A text kept as UTF-8 (attach_string) gets its wide
    // form in src.bstrVal on first use, also through a const value: hence mutable.
    mutable pf_variant src;

    // --- construction ---------------------------------------------------
    ole_variant() noexcept;
    ole_variant(const ole_variant& that);
    ole_variant(ole_variant&& that) noexcept;
    // A byte array of exactly these bytes (also when there are none: an
    // empty BLOB is a value, not NULL).
    ole_variant(const std::vector<std::uint8_t>& bytes);
    ole_variant(const std::uint8_t* bytes, std::size_t count);
    ole_variant(double v) noexcept;
    ole_variant(bool v) noexcept;
    ole_variant(char v) noexcept;           // VT_I1
    ole_variant(signed char v) noexcept;    // VT_I1
    ole_variant(unsigned char v) noexcept;  // VT_UI1
    ole_variant(short v) noexcept;
    ole_variant(unsigned short v) noexcept;
    ole_variant(int v) noexcept;
    ole_variant(unsigned int v) noexcept;
    ole_variant(long v) noexcept;                // VT_I8
    ole_variant(unsigned long v) noexcept;       // VT_UI8
    ole_variant(long long v) noexcept;           // VT_I8
    ole_variant(unsigned long long v) noexcept;  // VT_UI8
    ole_variant(float v) noexcept;
    ole_variant(CY v) noexcept;
    ole_variant(const DECIMAL& v) noexcept;
    ole_variant(const pf_decimal& v) noexcept;
    ole_variant(const ole_date& v) noexcept;
    ole_variant(const char* utf8_text);          // VT_BSTR (null: VT_EMPTY)
    ole_variant(const std::string& utf8_text);   // VT_BSTR
    ole_variant(const wchar_t* text);            // VT_BSTR up to the first zero (null: VT_EMPTY)
    ole_variant(const std::wstring& text);       // VT_BSTR, embedded zeros kept

    virtual ~ole_variant();

    ole_variant& operator=(const ole_variant& that);
    ole_variant& operator=(ole_variant&& that) noexcept;
    // A number or truth value replaces the value in place, of the kind the constructor of the
    // same argument type gives (no temporary value; a field keeps its text buffers for later).
    ole_variant& operator=(bool v) noexcept;
    ole_variant& operator=(char v) noexcept;
    ole_variant& operator=(signed char v) noexcept;
    ole_variant& operator=(unsigned char v) noexcept;
    ole_variant& operator=(short v) noexcept;
    ole_variant& operator=(unsigned short v) noexcept;
    ole_variant& operator=(int v) noexcept;
    ole_variant& operator=(unsigned int v) noexcept;
    ole_variant& operator=(long v) noexcept;
    ole_variant& operator=(unsigned long v) noexcept;
    ole_variant& operator=(long long v) noexcept;
    ole_variant& operator=(unsigned long long v) noexcept;
    ole_variant& operator=(float v) noexcept;
    ole_variant& operator=(double v) noexcept;
    ole_variant& operator=(const std::wstring& text);
    ole_variant& operator=(const wchar_t* text);
    // Replaces the value by a byte array of these bytes (an empty vector
    // gives an empty byte array).
    ole_variant& operator=(const std::vector<std::uint8_t>& bytes);

    // --- kind -------------------------------------------------------------
    VARTYPE get_vt() const noexcept { return src.vt; }
    VARTYPE get_type() const noexcept { return src.vt; }
    bool is_empty() const noexcept { return src.vt == VT_EMPTY || src.vt == VT_NULL; }
    bool is_binary() const noexcept { return pf_is_byte_array_kind(src.vt); }
    static bool is_numeric_type(VARTYPE vt) noexcept;
    static bool is_date_or_string_type(VARTYPE vt) noexcept;

    // --- replacing the content ---------------------------------------------
    // Makes the value a one-dimensional byte array of `size` bytes, lower
    // bound 0 (an existing byte array keeps its kind and is resized), with room
    // for at least `room` bytes.
    void allocate_safe_array(std::uint32_t size, std::size_t room = 0);
    // More than 4,294,967,295 bytes: tk_exception (level 1), never a cut value.
    // A large array (64 KB or more) gets room for its hexadecimal form (two digits a byte and
    // a short prefix): a writer turns it into that text where it stands instead of copying it.
    void attach_binary(const std::vector<std::uint8_t>& bytes);
    void attach_binary(const std::uint8_t* bytes, std::size_t count);
    void attach_string(std::string_view utf8_text);
    void attach_wstring(std::wstring_view text);
    // A date, time or date-and-time read from its text (UTF-8), as from_string(text, VT_DATE)
    // makes it: a text that is no valid date gives VT_EMPTY. A text in one of the forms MySQL
    // writes (ole_date::read_mysql_form) keeps its printed form (date_text), so that writers
    // pass it on instead of printing the date again for every row.
    void attach_date_text(std::string_view text);
    void clear() noexcept;
    // For a writer that has passed the value on and must not hold a large one while it is sent:
    // a text or byte array gives up its bytes and their room and is left an empty text or an
    // empty byte array (still not NULL); other kinds stay as they are.
    void release_content() noexcept;
    // A text kept as UTF-8 (utf8_text() not null) handed over whole, without a copy; the value
    // is left as release_content() leaves it. Any other value: an empty string, the value stays.
    std::string take_utf8_text() noexcept;
    // A byte array's bytes handed over whole with their room, without a copy; the value is
    // left as release_content() leaves it. Any other value: an empty vector, the value stays.
    std::vector<std::uint8_t> take_byte_vector() noexcept;

    // --- reading ------------------------------------------------------------
    // Hands out a long text or byte array in pieces. Callers loop from
    // position 0, advancing the position by the result until it is 0.
    //  - VT_BSTR: UTF-8 of at most `length` characters from `position`,
    //    zero-terminated, never splitting a character and never more than
    //    2 * length + 1 bytes plus the zero; the result is the number of
    //    characters consumed. The buffer must hold 2 * length + 2 bytes.
    //  - byte arrays: upper-case hexadecimal of at most `length` bytes from
    //    `position`, zero-terminated; the result is the number of bytes. The
    //    buffer must hold 2 * length + 1 bytes.
    //  - other kinds, or position at or past the end: 0.
    std::uint32_t get_at(char* buffer, std::uint32_t position, std::uint32_t length) const;
    // The value's bytes: for byte arrays the array's own bytes (no copy, valid
    // while the value is unchanged), for text its UTF-8 kept in text_holder;
    // the result is the byte count (for text the character count). Other
    // kinds: tk_mail_assertion; empty values 0.
    std::uint32_t get_bytes1(const std::uint8_t*& bytes, std::string& text_holder) const;
    // The bytes of a byte array (empty for other kinds).
    const std::vector<std::uint8_t>& get_byte_vector() const noexcept { return src.parray.data; }
    // Element count of a one-dimensional array (0 otherwise).
    static std::uint32_t get_safe_array_size(const pf_byte_array& array) noexcept;
    static std::vector<std::uint8_t>& convert_to_byte_array(const void* bytes, std::size_t count,
                                                            std::vector<std::uint8_t>& out);

    // Typed reads of the payload (no conversion; the caller knows the kind).
    const std::wstring& get_wstring() const
    {
        if (m_wide_pending) make_wide();
        return src.bstrVal;
    }
    // A text value's UTF-8 exactly as it was attached (attach_string of valid UTF-8, embedded
    // zeros included), so writers can pass it on without a round trip through wide text; null
    // for every other value, and for text set or changed in wide form.
    const std::string* utf8_text() const noexcept
    {
        return src.vt == VT_BSTR && m_utf8_kept ? &m_utf8 : nullptr;
    }
    // Whether the text utf8_text() gives holds a zero byte (known since it was attached: no
    // scan).
    bool utf8_has_zero() const noexcept { return m_utf8_zero; }
    // A date value's wide text form (ole_date::append_wide_form_to, precision 6) when it was
    // read from one of the forms MySQL writes; null for every other value.
    const std::string* date_text() const noexcept
    {
        return src.vt == VT_DATE && m_utf8_kept ? &m_utf8 : nullptr;
    }
    // A text value's length in characters (0 for other kinds).
    std::size_t text_length() const noexcept;
    // The bytes of a UTF-8 text that the writers' text formats escape with a backslash
    // (backslash, tab, line feed, carriage return), counted 16 bytes at a time: about as fast
    // as a copy of the text.
    static std::size_t count_escaped_bytes(std::string_view text) noexcept;
    const pf_decimal& get_decimal() const noexcept { return src.decVal; }
    CY get_cy() const noexcept { return src.cy(); }
    double get_double() const noexcept { return src.dblVal; }
    float get_float() const noexcept { return src.fltVal; }
    bool get_bool() const noexcept { return src.boolVal == VARIANT_TRUE; }
    const ole_date& get_date() const noexcept { return date_value; }

    // --- conversions ----------------------------------------------------------
    // Converts the value in place to kind `to`; ole_cast_exception when that
    // is not possible or the result would not fit. A text asked to become a
    // 32-, 16- or 8-bit integer stays text when it is a whole number in the
    // target's range, and is refused otherwise.
    void change_type(VARTYPE to);
    // A value of kind `kind` read from text (narrow texts are UTF-8). A text
    // that is not a number of a numeric kind (integers, R4, R8, CY, DECIMAL;
    // for VT_BOOL neither a number nor a truth word) raises ole_cast_exception
    // instead of giving 0. Blanks around a number and ',' as the decimal point
    // are accepted; an empty text gives VT_EMPTY.
    static ole_variant from_string(std::string_view text, VARTYPE kind);
    static ole_variant from_string(const char* text, VARTYPE kind);
    static ole_variant from_string(const std::string& text, VARTYPE kind)
    {
        return from_string(std::string_view(text), kind);
    }
    static ole_variant from_wstring(std::wstring_view text, VARTYPE kind);
    static ole_variant from_wstring(const wchar_t* text, VARTYPE kind);
    static ole_variant from_wstring(const std::wstring& text, VARTYPE kind)
    {
        return from_wstring(std::wstring_view(text), kind);
    }

    // --- text forms -------------------------------------------------------------
    // Narrow text is UTF-8.
    virtual std::string to_string() const;
    virtual std::wstring to_wstring() const;
    // The to_string text appended to out (no allocation beyond out's
    // growth). to_wstring is the same text, wide.
    void append_string(std::string& out) const;
    // The to_wstring text as UTF-8 appended to out (the same text as
    // append_string gives).
    void append_wstring_utf8(std::string& out) const { append_string(out); }
    bool to_bool() const noexcept;
    std::int32_t to_long() const noexcept;

private:
    void copy_from(const ole_variant& that);
    void move_from(ole_variant& that) noexcept;
    void set_date(const ole_date& d) noexcept;
    // Fills src.bstrVal from m_utf8.
    void make_wide() const;
    // The text is about to change in wide form: m_utf8 no longer holds it.
    void drop_utf8()
    {
        if (m_wide_pending) make_wide();
        m_utf8_kept = false;
    }

    // Sets src.date from date_value, whose fields are known to be in range.
    void set_date_number() noexcept;

    // Text read as valid UTF-8 is kept as it came (m_utf8_kept) and made wide only when asked
    // for (m_wide_pending), so a text that is only passed on is never converted. Its character
    // count and whether it holds a zero byte are noted in the same look at its bytes that
    // checks it, so that sizes and checks per row do not read it again. A date read from a
    // MySQL form keeps its printed form here too (m_utf8_kept with VT_DATE).
    std::string m_utf8;
    std::size_t m_utf8_chars = 0;
    bool m_utf8_kept = false;
    bool m_utf8_zero = false;
    mutable bool m_wide_pending = false;
};
