#include "pmr_shel/wizard_pages.h"

#include <QLabel>
#include <QVBoxLayout>

wizard_page_set::~wizard_page_set()
{
    while (!pages.empty())
        pages.pop_back();
}

placeholder_page::placeholder_page(const wizard_page_info& info, QWidget* parent) : wizard_page(info, parent)
{
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("This page is not available yet."), this));
}

void build_settings_pages(wizard_page_set& set)
{
    auto& p = set.pages;
    p.push_back(std::make_unique<placeholder_page>(welcome_page_info));
    p.push_back(std::make_unique<placeholder_page>(mysql_page_info));
    p.push_back(std::make_unique<placeholder_page>(pgs_page_info));
    p.push_back(std::make_unique<placeholder_page>(database_page_info));
    p.push_back(std::make_unique<placeholder_page>(conversion_settings_info));
    p.push_back(std::make_unique<placeholder_page>(tables_page_info));
    p.push_back(std::make_unique<placeholder_page>(views_page_info));
}
