#pragma once
// The wizard's list of pages, in order: what each page is (dialog template
// id, buttons, header texts, help topic) and the one function that builds the
// pages in that order.

#include <memory>
#include <vector>

#include "GUI2/wizard_page.h"

// The page list. Concrete pages pass their entry to wizard_page's constructor.
inline constexpr wizard_page_info welcome_page_info{103, 2, page_hide_header | page_has_help, nullptr, nullptr, 1021};
inline constexpr wizard_page_info mysql_page_info{123, 3, page_has_help, L"Step 1 of 7", L"Connect to MySQL server",
                                                  1017};
inline constexpr wizard_page_info pgs_page_info{134, 3, page_has_help, L"Step 2 of 7",
                                                L"Connect to PostgreSQL server", 1010};
inline constexpr wizard_page_info database_page_info{106, 3, page_has_help, L"Step 3 of 7", L"Select databases", 1016};
inline constexpr wizard_page_info conversion_settings_info{110, 3, page_has_help, L"Step 4 of 7",
                                                           L"Specify conversion settings", 1023};
inline constexpr wizard_page_info tables_page_info{127, 3, page_has_help, L"Step 5 of 7", L"Select tables to convert",
                                                   1015};
inline constexpr wizard_page_info views_page_info{127, 3, page_has_help, L"Step 6 of 7", L"Select views to convert",
                                                  1020};
inline constexpr wizard_page_info progress_page_info{107, 3, page_has_help, L"Step 7 of 7",
                                                     L"Database conversion is in progress", help_default};
inline constexpr wizard_page_info finish_page_info{116, 4, page_hide_header, nullptr, nullptr, help_none};

// The profile file extension of the wizard.
inline constexpr const wchar_t* profile_extension = L"pmr";

// Pages owned in list order; destroyed in reverse order.
class wizard_page_set {
public:
    wizard_page_set() = default;
    ~wizard_page_set();
    wizard_page_set(const wizard_page_set&) = delete;
    wizard_page_set& operator=(const wizard_page_set&) = delete;

    std::vector<std::unique_ptr<wizard_page>> pages;
};

// Appends the first seven pages (welcome to views) in list order.
void build_settings_pages(wizard_page_set& set);

// Numbers the header titles "Step k of n" over the pages the user will pass:
// a script file passes over the PostgreSQL page, so its steps run 1 to 6, and a
// source without views passes over the views page.
void number_steps(const std::vector<wizard_page*>& pages, bool direct, bool with_views = true);

// Stands in for a page that is not built yet: an empty page with the list's
// facts, so the sequence and its navigation are complete.
class placeholder_page : public wizard_page {
    Q_OBJECT
public:
    explicit placeholder_page(const wizard_page_info& info, QWidget* parent = nullptr);
};
