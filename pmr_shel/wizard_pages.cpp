#include "pmr_shel/wizard_pages.h"

#include <QLabel>
#include <QVBoxLayout>

#include "pmr_shel/conversion_settings_page.h"
#include "pmr_shel/database_page.h"
#include "pmr_shel/mysql_settings_page.h"
#include "pmr_shel/pgs_settings_page.h"
#include "pmr_shel/tables_page.h"
#include "pmr_shel/welcome_page.h"

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
    p.push_back(std::make_unique<welcome_page>(profile_extension));
    p.push_back(std::make_unique<sql_settings_page>());
    p.push_back(std::make_unique<pgs_settings_page>());
    p.push_back(std::make_unique<sel_file_page>());
    p.push_back(std::make_unique<conversion_settings>());
    p.push_back(std::make_unique<pmr_sel_tables_page>());
    p.push_back(std::make_unique<pmr_sel_views_page>());
}

void number_steps(const std::vector<wizard_page*>& pages, bool direct, bool with_views)
{
    std::vector<wizard_page*> steps;
    for (wizard_page* page : pages) {
        if (page->page_flags() & page_hide_header) continue;
        if (!direct && page->idd() == pgs_page_info.idd) continue;
        if (!with_views && dynamic_cast<pmr_sel_views_page*>(page)) continue;
        steps.push_back(page);
    }
    for (std::size_t i = 0; i < steps.size(); ++i)
        steps[i]->setTitle(QStringLiteral("Step %1 of %2").arg(i + 1).arg(steps.size()));
}
