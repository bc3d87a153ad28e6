#include "TK/tk_desktop.h"

#include <charconv>
#include <map>
#include <mutex>

#include "TK/tk_file_names.h"
#include "TK/tk_log.h"
#include "TK/tk_strings.h"
#include "platform/pf_system.h"

namespace {

struct desktop_hooks {
    std::mutex mutex;
    std::function<int(const tk_bug_mail&)> mail;
    std::function<bool(const std::wstring&)> clipboard;
    std::map<std::wstring, std::function<std::optional<std::string>()>> versions;
};

desktop_hooks& hooks()
{
    static desktop_hooks h;
    return h;
}

void append_percent_encoded(std::string& out, std::string_view text)
{
    static const char digits[] = "0123456789ABCDEF";
    for (unsigned char c : text) {
        bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                     c == '_' || c == '.' || c == '~';
        if (plain) {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back('%');
            out.push_back(digits[c >> 4]);
            out.push_back(digits[c & 0x0F]);
        }
    }
}

}  // namespace

std::string tk_bug_mail_link(const tk_bug_mail& mail)
{
    // The address alone: a display name does not belong in a mailto: link.
    std::string_view address = mail.recipient;
    if (auto open = address.find('<'); open != std::string_view::npos) {
        auto close = address.find('>', open);
        address = address.substr(open + 1, close == std::string_view::npos ? std::string_view::npos : close - open - 1);
    }
    std::string link = "mailto:";
    append_percent_encoded(link, address);
    link += "?subject=";
    append_percent_encoded(link, mail.subject);
    link += "&body=";
    append_percent_encoded(link, mail.body);
    return link;
}

void tk_set_bug_mail_hook(std::function<int(const tk_bug_mail&)> hook)
{
    std::lock_guard<std::mutex> lock(hooks().mutex);
    hooks().mail = std::move(hook);
}

void tk_set_clipboard_hook(std::function<bool(const std::wstring&)> hook)
{
    std::lock_guard<std::mutex> lock(hooks().mutex);
    hooks().clipboard = std::move(hook);
}

void tk_send_bug(const std::string& subject, const std::string& body)
{
    tk_write_log(2, "tk_send_bug(%s|%s)", subject.c_str(), body.c_str());
    tk_bug_mail mail;
    mail.recipient = tk_support_address;
    mail.subject = "Bug report on " + subject;
    mail.body = body;
    if (auto now = pf_now())
        mail.date = std::to_string(now->year) + "/" + std::to_string(now->month) + "/" + std::to_string(now->day) +
                    " " + std::to_string(now->hour) + ":" + std::to_string(now->minute);

    std::function<int(const tk_bug_mail&)> hook;
    {
        std::lock_guard<std::mutex> lock(hooks().mutex);
        hook = hooks().mail;
    }
    if (!hook) {
        tk_write_log(2, "No mail program: the bug report is not sent");
        return;
    }
    // Whatever the mail program does to the current directory is undone.
    tk_temp_chdir keep_dir(".");
    try {
        int result = hook(mail);
        tk_write_log(2, "Mail program returns %d", result);
    } catch (const std::exception& e) {
        tk_write_log(2, "Mail program failed: %s", e.what());
    }
}

void tk_copy_to_clipboard2(std::wstring_view text)
{
    std::wstring copy(text.substr(0, text.find(L'\0')));
    tk_write_wlog(2, L"tk_copy_to_clipboard2(%s)", copy.c_str());
    std::function<bool(const std::wstring&)> hook;
    {
        std::lock_guard<std::mutex> lock(hooks().mutex);
        hook = hooks().clipboard;
    }
    if (!hook) {
        tk_write_log(2, "No clipboard: the text is not copied");
        return;
    }
    try {
        if (hook(copy))
            tk_write_log(2, "OpenClipboard succeeded");
        else
            tk_write_log(2, "The clipboard did not take the text");
    } catch (const std::exception& e) {
        tk_write_log(2, "The clipboard failed: %s", e.what());
    }
}

std::uint32_t tk_version_word(std::string_view text)
{
    unsigned major = 0, minor = 0;
    const char* p = text.data();
    const char* end = p + text.size();
    auto r = std::from_chars(p, end, major);
    if (r.ec != std::errc() || r.ptr == end || *r.ptr != '.') return 0;
    auto r2 = std::from_chars(r.ptr + 1, end, minor);
    if (r2.ec != std::errc()) return 0;
    if (r2.ptr != end && *r2.ptr != '.') return 0;
    if (major > 0xFFFF || minor > 0xFFFF) return 0;
    return tk_version_word(major, minor);
}

void tk_register_dll_version(std::wstring library_name, std::function<std::optional<std::string>()> provider)
{
    std::lock_guard<std::mutex> lock(hooks().mutex);
    if (provider)
        hooks().versions[std::move(library_name)] = std::move(provider);
    else
        hooks().versions.erase(library_name);
}

std::uint32_t get_dll_version(std::wstring_view library_name)
{
    std::function<std::optional<std::string>()> provider;
    {
        std::lock_guard<std::mutex> lock(hooks().mutex);
        auto it = hooks().versions.find(std::wstring(library_name));
        if (it != hooks().versions.end()) provider = it->second;
    }
    if (!provider) {
        tk_write_log(1, "get_dll_version failed to load DLL");
        return 0;
    }
    std::optional<std::string> version = provider();
    if (!version) {
        tk_write_log(1, "get_dll_version failed to obtain DllGetVersion");
        return 0;
    }
    return tk_version_word(*version);
}
