#include "pg_target/pgs_encoding.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iconv.h>

#include "TK/tk_exception.h"
#include "TK/tk_log.h"
#include "TK/tk_strings.h"
#include "pg_target/pgs_engine.h"
#include "pg_target/pgs_exception.h"

namespace {

// The server's encoding names (and the aliases it accepts for them) in the
// form the server compares them, with the converter's name for each. UTF8 has
// none: its texts pass unchanged. SJIS, BIG5-like and UHC are the server's
// Windows forms of those encodings, hence the CP names.
struct encoding_row {
    const char* key;
    const char* iconv;
};
constexpr encoding_row encoding_rows[] = {
    {"utf8", nullptr},           {"unicode", nullptr},        {"big5", "BIG5"},
    {"euccn", "EUC-CN"},         {"eucjp", "EUC-JP"},         {"euckr", "EUC-KR"},
    {"euctw", "EUC-TW"},         {"gb18030", "GB18030"},      {"gbk", "GBK"},
    {"iso88591", "ISO-8859-1"},  {"latin1", "ISO-8859-1"},    {"iso88592", "ISO-8859-2"},
    {"latin2", "ISO-8859-2"},    {"iso88593", "ISO-8859-3"},  {"latin3", "ISO-8859-3"},
    {"iso88594", "ISO-8859-4"},  {"latin4", "ISO-8859-4"},    {"iso88595", "ISO-8859-5"},
    {"iso88596", "ISO-8859-6"},  {"iso88597", "ISO-8859-7"},  {"iso88598", "ISO-8859-8"},
    {"iso88599", "ISO-8859-9"},  {"latin5", "ISO-8859-9"},    {"koi8r", "KOI8-R"},
    {"koi8", "KOI8-R"},          {"koi8u", "KOI8-U"},         {"sjis", "CP932"},
    {"shiftjis", "CP932"},       {"uhc", "CP949"},            {"win1250", "CP1250"},
    {"win1251", "CP1251"},       {"win1252", "CP1252"},       {"win1253", "CP1253"},
    {"win1254", "CP1254"},       {"win1255", "CP1255"},       {"win1256", "CP1256"},
    {"win1257", "CP1257"},       {"win1258", "CP1258"},       {"mskanji", "CP932"},
    {"cp932", "CP932"},          {"cp936", "GBK"},            {"cp949", "CP949"},
    {"cp1250", "CP1250"},        {"cp1251", "CP1251"},        {"cp1252", "CP1252"},
    {"cp1253", "CP1253"},        {"cp1254", "CP1254"},        {"cp1255", "CP1255"},
    {"cp1256", "CP1256"},        {"cp1257", "CP1257"},        {"cp1258", "CP1258"},
};

// Letters and digits only, lower case: "ISO8859-1", "iso_8859_1" and "ISO88591" are one.
std::string comparable(std::wstring_view name)
{
    std::string key;
    for (wchar_t c : name) {
        if (c >= L'A' && c <= L'Z') key += static_cast<char>(c - L'A' + 'a');
        else if ((c >= L'a' && c <= L'z') || (c >= L'0' && c <= L'9')) key += static_cast<char>(c);
    }
    return key;
}

const encoding_row* find_row(std::wstring_view name)
{
    const std::string key = comparable(name);
    for (const encoding_row& r : encoding_rows)
        if (key == r.key) return &r;
    return nullptr;
}

bool is_ascii(std::string_view text)
{
    for (unsigned char c : text)
        if (c >= 0x80) return false;
    return true;
}

// The character starting at p (UTF-8), as its own bytes and its code point.
std::string describe_character(const char* p, std::size_t left)
{
    const auto b0 = static_cast<unsigned char>(*p);
    std::size_t len = b0 < 0x80 ? 1 : (b0 >> 5) == 0x6 ? 2 : (b0 >> 4) == 0xE ? 3 : (b0 >> 3) == 0x1E ? 4 : 0;
    if (len == 0 || len > left) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "%02X", b0);
        return std::string("byte 0x") + hex + " (not UTF-8)";
    }
    char32_t cp = len == 1 ? b0 : len == 2 ? (b0 & 0x1F) : len == 3 ? (b0 & 0x0F) : (b0 & 0x07);
    for (std::size_t i = 1; i < len; ++i) cp = (cp << 6) | (static_cast<unsigned char>(p[i]) & 0x3F);
    char code[16];
    std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(cp));
    return "character '" + std::string(p, len) + "' (" + code + ")";
}

}  // namespace

const char* pgs_iconv_name(std::wstring_view pg_name)
{
    const encoding_row* r = find_row(pg_name);
    return r ? (r->iconv ? r->iconv : "UTF-8") : nullptr;
}

std::wstring pgs_find_offered_encoding(std::wstring_view name)
{
    const encoding_row* wanted = find_row(name);
    if (!wanted) return {};
    auto same = [](const char* a, const char* b) { return a == b || (a && b && std::strcmp(a, b) == 0); };
    for (const std::wstring& offered : pgs_engine::get_encodings()) {
        const encoding_row* r = find_row(offered);
        if (r && same(r->iconv, wanted->iconv)) return offered;
    }
    return {};
}

bool pgs_is_utf8_encoding(std::wstring_view pg_name)
{
    const encoding_row* r = find_row(pg_name);
    return r && !r->iconv;
}

std::optional<std::wstring> pgs_client_encoding_of(std::wstring_view s)
{
    std::size_t i = 0;
    auto blanks = [&] {
        while (i < s.size() && (s[i] == L' ' || s[i] == L'\t' || s[i] == L'\r' || s[i] == L'\n')) ++i;
    };
    auto word = [&](std::wstring_view w) {
        if (s.size() - i < w.size()) return false;
        for (std::size_t k = 0; k < w.size(); ++k) {
            wchar_t c = s[i + k];
            if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
            if (c != w[k]) return false;
        }
        i += w.size();
        return true;
    };
    blanks();
    if (!word(L"set")) return std::nullopt;
    blanks();
    if (!word(L"client_encoding")) return std::nullopt;
    blanks();
    if (i < s.size() && s[i] == L'=') ++i;
    else if (!word(L"to")) return std::nullopt;
    blanks();
    std::wstring name;
    if (i < s.size() && s[i] == L'\'') {
        for (++i; i < s.size() && s[i] != L'\''; ++i) name += s[i];
        if (i == s.size()) return std::nullopt;
        ++i;
    } else {
        while (i < s.size() && s[i] != L' ' && s[i] != L';' && s[i] != L'\t') name += s[i++];
    }
    blanks();
    if (i < s.size() && s[i] == L';') ++i;
    blanks();
    if (i != s.size() || name.empty()) return std::nullopt;
    return name;
}

pgs_encoder::pgs_encoder(std::wstring_view pg_name) : m_name(pg_name)
{
    const encoding_row* r = find_row(pg_name);
    if (!r) throw tk_exception("Unknown PostgreSQL encoding '" + tk_unicode_to_utf8(m_name) + "'", 1);
    if (!r->iconv) return;
    iconv_t cd = iconv_open(r->iconv, "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1))
        throw tk_exception("PostgreSQL encoding '" + tk_unicode_to_utf8(m_name) +
                               "' cannot be used: this system has no converter for it",
                           1);
    m_handle = cd;
    tk_write_wlog(2, L"Texts are converted to %s", m_name.c_str());
}

pgs_encoder::~pgs_encoder()
{
    if (m_handle) iconv_close(static_cast<iconv_t>(m_handle));
}

void pgs_encoder::append(std::string& out, std::string_view utf8, std::string_view what)
{
    // Every offered encoding keeps ASCII as it is: most texts need no converter.
    if (!m_handle || is_ascii(utf8)) {
        out.append(utf8);
        return;
    }
    auto cd = static_cast<iconv_t>(m_handle);
    const std::size_t start = out.size();
    char* in = const_cast<char*>(utf8.data());
    std::size_t in_left = utf8.size();
    std::size_t room = utf8.size() * 2 + 16;
    out.resize(start + room);
    std::size_t used = 0;
    bool flushing = false;  // the input is done; any shift state is ended
    for (;;) {
        char* o = out.data() + start + used;
        std::size_t o_left = room - used;
        const std::size_t rc =
            flushing ? iconv(cd, nullptr, nullptr, &o, &o_left) : iconv(cd, &in, &in_left, &o, &o_left);
        const int err = errno;
        used = room - o_left;
        if (rc != static_cast<std::size_t>(-1)) {
            if (flushing) break;
            flushing = true;
            continue;
        }
        if (err == E2BIG) {
            room *= 2;
            out.resize(start + room);
            continue;
        }
        iconv(cd, nullptr, nullptr, nullptr, nullptr);  // back to the initial state
        out.resize(start);
        std::string message;
        if (!what.empty()) message.append(what).append(": ");
        message += err == EINVAL ? std::string("a character cut short at the end of the text")
                                 : describe_character(in, in_left);
        message += " cannot be represented in encoding " + tk_unicode_to_utf8(m_name);
        if (what.empty()) message[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(message[0])));
        throw pgs_exception(message);
    }
    out.resize(start + used);
}

void pgs_encoder::check(std::string_view utf8, std::string_view what)
{
    if (!m_handle || is_ascii(utf8)) return;
    m_scratch.clear();
    append(m_scratch, utf8, what);
}
