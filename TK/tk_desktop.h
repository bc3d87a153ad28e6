#pragma once
// Desktop services of the wizard: the bug-report mail, the clipboard and the
// version check of a run-time library. The toolkit has no window system of
// its own: the wizard installs hooks that do the work; without a hook each
// service only writes a trace line.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

// The recipient of bug reports: display name and address in angle brackets.
inline constexpr const char* tk_support_address = "Quindrel Support <support@quindrel.invalid>";

struct tk_bug_mail {
    std::string recipient;  // tk_support_address
    std::string subject;    // "Bug report on " + the caller's subject
    std::string body;
    std::string date;       // local time "%d/%d/%d %d:%d" (year, month, day, hour, minute), or empty
};

// The "mailto:" link for a bug mail (address, subject and body percent-encoded
// as UTF-8), for a hook that hands it to the desktop's mail program.
std::string tk_bug_mail_link(const tk_bug_mail& mail);

// Hooks; an empty function removes the hook. The mail hook answers the mail
// program's result (logged only); the clipboard hook whether it took the text.
void tk_set_bug_mail_hook(std::function<int(const tk_bug_mail&)> hook);
void tk_set_clipboard_hook(std::function<bool(const std::wstring&)> hook);

// Mails a bug report through the hook; nothing is reported to the caller.
void tk_send_bug(const std::string& subject, const std::string& body);
// Puts the text (up to its first NUL) on the clipboard through the hook.
void tk_copy_to_clipboard2(std::wstring_view text);

// --- run-time library versions ---
// A library's version word: (major << 16) | (minor & 0xFFFF).
constexpr std::uint32_t tk_version_word(unsigned major, unsigned minor)
{
    return (static_cast<std::uint32_t>(major) << 16) | (minor & 0xFFFFu);
}
// The version word of a text "major.minor[.patch...]"; 0 when it is not one.
std::uint32_t tk_version_word(std::string_view text);

// Registers how to ask a library for its version text at run time (for
// instance the widget library's own version function); an empty function
// removes it. The provider answers nothing when the version cannot be had.
void tk_register_dll_version(std::wstring library_name, std::function<std::optional<std::string>()> provider);

// The version word of a registered library, 0 when it is not registered
// ("failed to load") or has no version ("failed to obtain"). The wizard
// compares it with the version it was built against:
//   get_dll_version(name) >= tk_version_word(BUILT_VERSION_TEXT)
std::uint32_t get_dll_version(std::wstring_view library_name);
