// A picture of every page of the wizard as a user sees it, in the build
// folder's wizard_pictures/ (page_<position>_<template id>.png): the whole
// window at its own size, with the page current and laid out, taken while a
// conversion is driven through the pages against the test servers.
#include <QComboBox>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMap>

#include "GUI2/finish_page.h"
#include "console/console_test_support.h"
#include "pmr_shel/progress_page.h"
#include "pmr_shel/wizard_pages.h"
#include "wizard_test_support.h"

using namespace wizard_test;

namespace {

using wizard_pictures = wizard_fixture;

TEST_F(wizard_pictures, every_page_is_pictured_as_the_current_page_of_the_whole_window)
{
    console_test::mysql_source source("qpic_src");
    source.exec("CREATE TABLE `Orders` (`Id` INT PRIMARY KEY, `Customer` VARCHAR(60), `Total` DECIMAL(12,2));"
                "INSERT INTO `Orders` VALUES (1, 'Zoë', 12.50), (2, 'Ünal', 7.25);"
                "CREATE VIEW `BigOrders` AS SELECT `Id`, `Total` FROM `Orders` WHERE `Total` > 10");
    console_test::pg_destination destination("qpic_dst");
    wizard_page_set set;
    build_settings_pages(set);
    set.pages.push_back(std::make_unique<progress_page>());
    set.pages.push_back(std::make_unique<gui_finish_page>(
        finish_page_info, L"Wizard has migrated your MySQL database to\nPostgreSQL server successfully.", L"Failed.",
        profile_extension));
    for (auto& page : set.pages)
        shell().add_page(page.get());
    show_wizard();
    const QSize window_size = shell().size();

    QStringList saved;
    int position = 0;
    auto picture = [&] {
        wizard_page* page = current();
        ASSERT_NE(page, nullptr);
        ++position;
        // The window as it is: not resized for the picture.
        EXPECT_EQ(shell().size(), window_size);
        saved << save_picture(&shell(), QStringLiteral("page_%1_%2").arg(position).arg(page->idd()));
        // Each Alt key of the window (the page's and the wizard's buttons) leads to one control.
        QMap<QChar, QString> keys;
        for (QWidget* w : shell().findChildren<QWidget*>()) {
            if (!w->isVisible())
                continue;
            QString text;
            if (auto* b = qobject_cast<QAbstractButton*>(w))
                text = b->text();
            else if (auto* l = qobject_cast<QLabel*>(w); l && l->buddy())
                text = l->text();
            const qsizetype amp = text.indexOf(QLatin1Char('&'));
            if (amp < 0 || amp + 1 >= text.size())
                continue;
            const QChar key = text.at(amp + 1).toLower();
            EXPECT_FALSE(keys.contains(key)) << "page " << page->idd() << ": Alt+" << QString(key).toStdString()
                                             << " for '" << keys.value(key).toStdString() << "' and '"
                                             << text.toStdString() << "'";
            keys.insert(key, text);
        }
        // No text cut in a combo box.
        for (QComboBox* box : page->findChildren<QComboBox*>())
            if (box->isVisible() && !box->isEditable())
                for (int i = 0; i < box->count(); ++i)
                    EXPECT_GE(box->width(), box->fontMetrics().horizontalAdvance(box->itemText(i)) + 20)
                        << "page " << page->idd() << ": " << box->itemText(i).toStdString();
    };
    auto type = [&](int id, const std::string& text) {
        find_control<QLineEdit>(current(), wizard_page::ctrl_name(id))->setText(QString::fromStdString(text));
    };
    auto next = [&](int idd) {
        shell().button(QWizard::NextButton)->click();
        pump(30);
        ASSERT_EQ(current()->idd(), idd);
    };

    picture();  // welcome
    next(123);
    const auto my = test_env::mysql();
    find_control<QAbstractButton>(current(), QStringLiteral("ctl_1330"))->click();
    type(1014, my.host);
    type(1015, std::to_string(my.port));
    type(1012, my.user);
    type(1013, my.password);
    picture();
    next(134);
    const auto pg = test_env::pg();
    type(1014, pg.host);
    type(1015, std::to_string(pg.port));
    type(1012, pg.user);
    type(1013, pg.password);
    type(1002, "");
    picture();
    next(106);
    find_control<QComboBox>(current(), QStringLiteral("ctl_1302"))->setEditText(QString::fromStdString(source.name()));
    type(1004, destination.name());
    type(1005, "");
    picture();
    next(110);
    picture();
    next(127);
    find_control<QAbstractButton>(current(), QStringLiteral("ctl_1102"))->click();
    picture();
    next(127);  // the views page
    find_control<QAbstractButton>(current(), QStringLiteral("ctl_1102"))->click();
    picture();
    shell().button(QWizard::NextButton)->click();
    ASSERT_TRUE(wait_until([&] { return current() && current()->idd() == 107; }));
    picture();
    ASSERT_TRUE(wait_until([&] { return current() && current()->idd() == 116; }, 120000));
    picture();
    EXPECT_EQ(position, 9);
    EXPECT_EQ(convertor().outcome(), conversion_outcome::completed);

    for (const QString& path : saved) {
        const QImage image(path);
        EXPECT_EQ(image.size(), window_size * image.devicePixelRatio()) << path.toStdString();
    }
    shell().hide();
    shell().remove_pages();
}

}  // namespace
