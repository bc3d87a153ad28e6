// The page protocol through the shell: Next, Back, jumps, pages passed over,
// Cancel's question.
#include <QAbstractButton>

#include "pmr_shel/wizard_pages.h"
#include "wizard_test_support.h"

using namespace wizard_test;

namespace {

// A page whose answers a test sets.
class scripted_page : public wizard_page {
public:
    using wizard_page::wizard_page;
    int next_answer = 0;
    int back_answer = 0;
    bool init_answer = true;
    int arrivals = 0;
    bool page_init() override
    {
        ++arrivals;
        return init_answer;
    }
    int on_next() override { return next_answer; }
    int on_back() override { return back_answer; }
};

class wizard_sequence : public wizard_fixture {
protected:
    void SetUp() override
    {
        wizard_fixture::SetUp();
        for (const wizard_page_info* info : {&welcome_page_info, &mysql_page_info, &pgs_page_info,
                                             &database_page_info, &conversion_settings_info})
            pages.push_back(add_page(std::make_unique<scripted_page>(*info)));
    }
    int current_idd() { return current() ? current()->idd() : -1; }
    void press(QWizard::WizardButton which)
    {
        shell().button(which)->click();
        pump(30);
    }
    std::vector<scripted_page*> pages;
};

TEST_F(wizard_sequence, next_back_and_jumps_follow_the_pages_answers)
{
    show_wizard();
    EXPECT_EQ(current_idd(), 103);
    EXPECT_FALSE(shell().button(QWizard::BackButton)->isEnabled());
    EXPECT_TRUE(shell().button(QWizard::NextButton)->isEnabled());

    press(QWizard::NextButton);
    EXPECT_EQ(current_idd(), 123);
    EXPECT_TRUE(shell().button(QWizard::BackButton)->isEnabled());
    EXPECT_EQ(shell().windowTitle(), QStringLiteral("Tessalane Test"));

    pages[1]->next_answer = -1;  // stay
    press(QWizard::NextButton);
    EXPECT_EQ(current_idd(), 123);

    pages[1]->next_answer = 110;  // jump forward over two pages
    press(QWizard::NextButton);
    EXPECT_EQ(current_idd(), 110);

    pages[4]->back_answer = 123;  // jump back
    press(QWizard::BackButton);
    EXPECT_EQ(current_idd(), 123);

    press(QWizard::BackButton);
    EXPECT_EQ(current_idd(), 103);
    EXPECT_EQ(pages[0]->arrivals, 2);  // every arrival, in either direction
}

TEST_F(wizard_sequence, a_page_that_declines_is_passed_over_in_the_direction_of_travel)
{
    pages[2]->init_answer = false;
    show_wizard();
    press(QWizard::NextButton);
    press(QWizard::NextButton);
    ASSERT_TRUE(wait_until([&] { return current_idd() == 106; }));
    EXPECT_EQ(pages[2]->arrivals, 1);
    press(QWizard::BackButton);
    ASSERT_TRUE(wait_until([&] { return current_idd() == 123; }));
    EXPECT_EQ(pages[2]->arrivals, 2);
}

TEST_F(wizard_sequence, cancel_asks_and_only_yes_closes)
{
    show_wizard();
    modal_answerer answers;
    answers.push(QMessageBox::No);
    shell().reject();
    EXPECT_TRUE(shell().isVisible());
    answers.push(QMessageBox::Yes);
    shell().reject();
    EXPECT_FALSE(shell().isVisible());
    ASSERT_EQ(answers.seen().size(), 2u);
    EXPECT_EQ(answers.seen()[0].text, QStringLiteral("Are you sure you want to exit the wizard?"));
    EXPECT_EQ(answers.seen()[0].caption, QStringLiteral("Tessalane Test Question"));
}

}  // namespace
