#pragma once
// "Step 1 of 7": the MySQL connection (local or remote, host, port, user,
// password). Next stores the fields in the MySQL half of the conversion object
// and connects; the page is left forwards only once the connection works.
// Next then routes the wizard: the PostgreSQL page for a live destination,
// straight to the database page for a script file.

#include "GUI2/wizard_page.h"

class QButtonGroup;

class sql_settings_page : public wizard_page {
    Q_OBJECT
public:
    // Help topic opened after the server refused the client's authentication.
    static constexpr int auth_help_topic = 1022;

    explicit sql_settings_page(QWidget* parent = nullptr);
    ~sql_settings_page() override;

    bool page_init() override;
    int on_next() override;
    int on_back() override;

    // Copies the fields into the MySQL half. With "Local" the host is empty
    // and the port "3306", whatever the remote boxes hold.
    void store_settings();

private:
    void switch_remote(bool remote);

    QButtonGroup* m_access = nullptr;
};
