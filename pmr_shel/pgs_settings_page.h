#pragma once
// "Step 2 of 7" (live destinations only): the PostgreSQL connection (host,
// port, user, password, optionally a database to connect to). Next stores
// the fields in the PostgreSQL half and connects; the page is left forwards
// only once the connection works. A database typed here is also the
// conversion's destination. "Advanced..." opens the SSL settings.

#include <string>

#include "GUI2/wizard_page.h"

class pgs_settings_page : public wizard_page {
    Q_OBJECT
public:
    // Follows a failed connection: the help page that lists the usual causes.
    static constexpr const char* help_hint_text =
        "Press Help (F1) on this page for the usual causes and their remedies.";

    explicit pgs_settings_page(QWidget* parent = nullptr);
    ~pgs_settings_page() override;

    bool page_init() override;
    int on_next() override;
    int on_back() override;

    // Copies the fields into the PostgreSQL half (texts unchanged) and the
    // database box into the page. False when the port box is not a number:
    // the port then keeps its previous value.
    bool store_settings();

    // The database named on this page; neither remembered nor in a profile.
    const std::string& database_name() const noexcept { return m_database; }

private:
    void on_advanced();
    // A database named here becomes the conversion's destination; an empty
    // box leaves the destination as it was (a profile's, for instance).
    void take_destination();

    std::string m_database;
};
