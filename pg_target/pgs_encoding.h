#pragma once
// Client encodings other than UTF8. Texts are built as UTF-8 everywhere on this
// side; where they must reach a reader in another encoding (a script file that
// declares it), they are converted here, and a text the encoding cannot hold
// is refused with a level-0 pgs_exception naming the first character that does
// not fit, so only the row that holds it fails.

#include <optional>
#include <string>
#include <string_view>

// The converter's (iconv) name for one of the server's encoding names that the
// engine offers (pgs_engine::get_encodings), compared the way the server
// compares them (case, '-' and '_' ignored); nullptr for another name.
const char* pgs_iconv_name(std::wstring_view pg_name);

// The name in the engine's offered list (pgs_engine::get_encodings) of the
// encoding a name or alias the server accepts stands for ("latin1" gives
// "ISO8859-1", "cp1252" "WIN1252"); empty when it stands for none of them.
std::wstring pgs_find_offered_encoding(std::wstring_view name);

// True for UTF8 in any spelling the server accepts ("utf-8", "Unicode").
bool pgs_is_utf8_encoding(std::wstring_view pg_name);

// The encoding a statement sets when it is "set client_encoding to 'X'" (any
// case, blanks around the words, '=' in place of "to", X quoted or not).
std::optional<std::wstring> pgs_client_encoding_of(std::wstring_view statement);

// Converts UTF-8 into one encoding. Not thread-safe: one per user.
class pgs_encoder {
public:
    // Throws tk_exception (level 1) for a name outside the offered list, or
    // when the system has no converter for it.
    explicit pgs_encoder(std::wstring_view pg_name);
    ~pgs_encoder();
    pgs_encoder(const pgs_encoder&) = delete;
    pgs_encoder& operator=(const pgs_encoder&) = delete;

    // UTF8: every text passes unchanged and nothing is checked.
    bool is_utf8() const noexcept { return m_handle == nullptr; }
    const std::wstring& name() const noexcept { return m_name; }

    // Appends utf8 converted to the encoding. Throws pgs_exception (level 0)
    // naming the first character the encoding cannot represent, and then
    // appends nothing. `what` names the text in that message (for example a
    // column), or is empty. A sequence cut at the end of utf8 is refused too:
    // callers hand over whole texts.
    void append(std::string& out, std::string_view utf8, std::string_view what = {});
    // The same check without keeping the result.
    void check(std::string_view utf8, std::string_view what = {});

private:
    std::wstring m_name;
    void* m_handle = nullptr;  // iconv_t; null for UTF8
    std::string m_scratch;     // the result of check(), reused
};
