#pragma once
// The first page: greets the user, chooses between a live PostgreSQL
// destination and a script file (the conversion object's direct flag) and
// loads a profile that fills every setting at once.

#include "GUI2/welcome_page_base.h"
#include "GUI2/wizard_page.h"

class QButtonGroup;

class welcome_page : public wizard_page, public welcome_page_t {
    Q_OBJECT
public:
    explicit welcome_page(const std::wstring& profile_extension, QWidget* parent = nullptr);
    ~welcome_page() override;

    bool page_init() override;
    int on_next() override;
    // The radio buttons follow the conversion object's direct flag.
    void update_from_cvt() override;

protected:
    bool load_profile_file(const std::wstring& path) override;

private:
    QButtonGroup* m_scenario = nullptr;
};
