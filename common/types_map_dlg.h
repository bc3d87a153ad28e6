#pragma once
// The "Edit Table" dialog: one source table's columns with the PostgreSQL type
// the conversion would give each. The user may rename the table, and per
// column rename it, choose another target type with its length, precision,
// scale and default, or leave it out (clear its check box). OK writes the
// changes into the conversion's database mutator as a table mutator with
// field mutators; Cancel writes nothing.
//
// The types offered for a column come from "pgs.map" (target type -> types
// that may replace it), which of length, scale and precision a type takes from
// "pgs.typ". Both are list files beside the program, read once per process.

#include <QDialog>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "TK/tk_list_file.h"
#include "UDB/udb_schema.h"
#include "pg_target/pgs_mutator.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QTreeWidget;
class QTreeWidgetItem;

// One column's edited values as the dialog keeps them.
struct types_map_row {
    std::wstring new_name;
    std::wstring type;  // the type name; sizes in the boxes, or in the name when the default has them there
    std::wstring default_value;
    std::wstring character_set;
    std::int64_t length = -1;  // -1: not given
    int scale = -1;            // -1: not given
    int precision = -1;        // -1: not given
    int status = 1;            // 1 changed, 2 deleted (left out)

    bool same_values(const types_map_row& that) const;
};

// The two process-wide type-map files. Each map is filled the first time it is
// needed and then kept; a failed load leaves it empty, so the next use tries
// again. Files are looked for in `folders`, in order (the program's folder,
// then the installed data folder).
struct type_map_files {
    tk_list_map types_map;        // "pgs.map"
    tk_list_map type_properties;  // "pgs.typ"
    std::vector<std::string> folders;

    static type_map_files& instance();
    // False when the file is in none of the folders.
    bool load(tk_list_map& map, const char* file_name, const std::set<std::wstring>& exclusions) const;
};

// The type name without any parenthesised sizes, blanks collapsed:
// "TIMESTAMP(0) WITH TIME ZONE" -> "TIMESTAMP WITH TIME ZONE".
std::wstring types_map_bare_type(const std::wstring& type);

class types_map_dlg : public QDialog {
    Q_OBJECT
public:
    // The schema's descriptors get their default PostgreSQL type texts.
    types_map_dlg(pgs_db_mutator& mutator, std::wstring table_name, udb_schema schema,
                  QWidget* parent = nullptr);
    ~types_map_dlg() override;

public slots:
    void accept() override;
    void reject() override;

private slots:
    void on_current_changed(QTreeWidgetItem* current, QTreeWidgetItem* previous);
    void on_item_changed(QTreeWidgetItem* item, int column);
    void on_type_changed();

protected:
    // The first showing fills the dialog. When a type-map file is missing its
    // error is shown and the dialog ends at once with Rejected.
    void showEvent(QShowEvent* event) override;

private:
    // Inside a handler: a tk_exception ends the dialog after showing it; anything else is
    // reported as unexpected.
    void end_on_current_error();
    void build_controls();
    void on_init();
    void load_from_mutator();
    void add_item(t_ftd& column);
    void set_available_conversions(int row);
    void show_ctrl();
    void show_row(int row);
    void select_type(const std::wstring& type);
    bool read_row(types_map_row& out);
    bool store_row(int row);
    int row_of(QTreeWidgetItem* item) const;
    const std::wstring& column_name(int row) const;
    // The column's default values as the field controls show them.
    types_map_row default_row(int row) const;
    // The row's values: the edited entry, or else the default.
    types_map_row current_row(int row) const;
    pgs_native_type native_of(const types_map_row& values) const;
    void save_to_mutator();

    pgs_db_mutator& m_mutator;
    std::wstring m_table_name;
    std::wstring m_shown_name;
    udb_schema m_schema;
    bool m_init_done = false;
    bool m_initialised = false;
    bool m_ended = false;
    std::map<std::wstring, types_map_row> m_rows;
    std::map<std::wstring, pgs_native_type> m_defaults;

    QTreeWidget* m_list = nullptr;
    QLineEdit* m_table_box = nullptr;
    QLineEdit* m_name_box = nullptr;
    QComboBox* m_type_box = nullptr;
    QLineEdit* m_default_box = nullptr;
    QLabel* m_length_label = nullptr;
    QLineEdit* m_length_box = nullptr;
    QLabel* m_precision_label = nullptr;
    QLineEdit* m_precision_box = nullptr;
    QLabel* m_scale_label = nullptr;
    QLineEdit* m_scale_box = nullptr;
};
