// A picture of every page of the wizard, in list order, in the build folder's
// wizard_pictures/ (page_<position>_<template id>.png), to look at. The pages
// are drawn as they are built, before any of them has become current; the
// whole window is drawn on the welcome page.
#include <QFileInfo>
#include <QLayout>

#include "GUI2/finish_page.h"
#include "pmr_shel/progress_page.h"
#include "pmr_shel/wizard_pages.h"
#include "wizard_test_support.h"

using namespace wizard_test;

namespace {

using wizard_pictures = wizard_fixture;

TEST_F(wizard_pictures, every_page_is_drawn_into_a_picture)
{
    wizard_page_set set;
    build_settings_pages(set);
    set.pages.push_back(std::make_unique<progress_page>());
    set.pages.push_back(std::make_unique<gui_finish_page>(finish_page_info, L"Done.", L"Failed.", profile_extension));
    ASSERT_EQ(set.pages.size(), 9u);
    for (auto& page : set.pages)
        shell().add_page(page.get());
    show_wizard();
    ASSERT_EQ(current(), set.pages.front().get());
    QStringList saved;
    saved << save_picture(&shell(), QStringLiteral("wizard_window"));
    const QSize size = current()->size();
    for (std::size_t i = 0; i < set.pages.size(); ++i) {
        wizard_page* page = set.pages[i].get();
        EXPECT_EQ(page->objectName(), QStringLiteral("page_%1").arg(page->idd()));
        page->resize(size);
        if (page->layout())
            page->layout()->activate();
        saved << save_picture(page, QStringLiteral("page_%1_%2").arg(i + 1).arg(page->idd()));
    }
    for (const QString& path : saved)
        EXPECT_TRUE(QFileInfo(path).size() > 0) << path.toStdString();
    shell().hide();
    shell().remove_pages();
}

}  // namespace
