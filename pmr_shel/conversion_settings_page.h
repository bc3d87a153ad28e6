#pragma once
// "Step 4 of 7": the PostgreSQL schema that receives the tables (an existing
// one of the destination database or a new one), LOGGED or UNLOGGED tables,
// COPY or INSERT for the rows, definitions only, and case-sensitive names.
// Shown from the current settings on every arrival, stored on Next and on
// Back; Next refuses a schema name the run could not take.

#include <QString>

#include <string>
#include <vector>

#include "GUI2/wizard_page.h"

class QButtonGroup;
class QComboBox;

class conversion_settings : public wizard_page {
    Q_OBJECT
public:
    explicit conversion_settings(QWidget* parent = nullptr);
    ~conversion_settings() override;

    bool page_init() override;
    int on_next() override;
    int on_back() override;

    // Why the run could not take this schema name ("" when it can).
    static std::wstring schema_name_problem(const std::wstring& schema);

    void store_file_info();

private:
    void follow_schema_choice();

    QButtonGroup* m_schema_choice = nullptr;
    QComboBox* m_schema_box = nullptr;
    QComboBox* m_tables_box = nullptr;
    QComboBox* m_insert_box = nullptr;
    // The destination whose schemas the box shows, and those schemas.
    std::wstring m_listed_database;
    std::vector<std::wstring> m_schema_names;
};
