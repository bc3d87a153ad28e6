#pragma once
// The tables page and the views page. Both show the source's names in an
// "available" list and the user's choice in a "selected" list, with buttons
// that move items between them; both lists keep their items sorted ignoring
// case. The tables page adds the user's SELECT queries (converted as tables),
// edits a selected query or opens the type mapping of a selected table on a
// double click, and passes over the views page when the source has none. The
// views page lets the user order the selected views. Next writes each page's
// choice into the conversion object.

#include <QString>

#include <string>
#include <utility>
#include <vector>

#include "GUI2/wizard_page.h"

class QLabel;
class QListWidget;
class QPushButton;

using name_text_pair = std::pair<std::wstring, std::wstring>;
using name_text_list = std::vector<name_text_pair>;

// The list page both pages share.
class sel_tables_page : public wizard_page {
    Q_OBJECT
public:
    // question: asked when the page is left with nothing selected while names
    // are available (empty: no question); reorder shows the "^" and "v" buttons.
    sel_tables_page(const wizard_page_info& info, std::wstring question, bool reorder, QWidget* parent = nullptr);

    QListWidget* available_list() const noexcept { return m_available; }
    QListWidget* selected_list() const noexcept { return m_selected; }

    // Compares two names as the lists sort them: ignoring case, then exactly.
    static bool name_less(const QString& a, const QString& b);

protected:
    virtual bool is_query(const std::wstring& name) const;
    // What the selected list shows for a source name (the name the
    // destination gets); the source name itself by default.
    virtual QString shown_name(const QString& source) const;
    virtual void do_add_query(const std::wstring& name);
    virtual void do_remove_query(const std::wstring& name);

    // Empties both lists, offers `m_names` and selects the first one.
    void do_page_init();
    // Asks the question when nothing is selected (false: stay), then fills
    // `m_names` with the selected names that are not queries, top to bottom.
    bool collect_selection();
    // Fills `m_names` as collect_selection does, without the question.
    void collect_names();

    void move_to_selected(int index);
    void move_to_available(int index);
    // The row of the name in the available list (exact), or -1.
    int find_available(const std::wstring& name) const;
    // The name is in neither list (ignoring case).
    bool is_not_listed(const std::wstring& name) const;
    static bool list_has(const QListWidget* list, const std::wstring& name);
    // Inserts a name at its sorted place; answers its row.
    static int insert_sorted(QListWidget* list, const QString& name);

    void set_texts(const char* description, const char* available_label, const char* selected_label);

    std::vector<std::wstring> m_names;
    QPushButton* m_add_query_button = nullptr;

private slots:
    void on_add();
    void on_add_all();
    void on_delete();
    void on_del_all();
    void on_move_up();
    void on_move_down();

private:
    void move_selection(QListWidget* from, QListWidget* to, bool to_selected);
    void clear_sel(QListWidget* list);

    bool m_reorder;
    std::wstring m_question;
    QLabel* m_description = nullptr;
    QLabel* m_available_label = nullptr;
    QLabel* m_selected_label = nullptr;
    QListWidget* m_available = nullptr;
    QListWidget* m_selected = nullptr;
};

// The tables page: tables and the user's queries.
class pmr_sel_tables_page : public sel_tables_page {
    Q_OBJECT
public:
    explicit pmr_sel_tables_page(QWidget* parent = nullptr);

    bool page_init() override;
    int on_next() override;
    int on_back() override;

    const name_text_list& selected_queries() const noexcept { return m_selected_queries; }
    const name_text_list& query_pool() const noexcept { return m_query_pool; }

public slots:
    void on_add_query();
    void on_edit_query();

protected:
    bool is_query(const std::wstring& name) const override;
    // A table renamed in Edit Table shows its new name.
    QString shown_name(const QString& source) const override;
    void do_add_query(const std::wstring& name) override;
    void do_remove_query(const std::wstring& name) override;

private:
    // Writes the page's choice into the conversion object.
    void store_selection();
    void restore_selection(const name_text_list& query_list, const std::vector<std::wstring>& tables);
    // The name is taken by a listed table or view name or another query
    // (ignoring case); `except` is the name of the query being edited.
    bool is_name_taken(const std::wstring& name, const std::wstring& except) const;
    void show_types_map(const std::wstring& name);

    name_text_list m_selected_queries;  // queries in the selected list, in the order they got there
    name_text_list m_query_pool;        // known queries in the available list
};

// The views page.
class pmr_sel_views_page : public sel_tables_page {
    Q_OBJECT
public:
    explicit pmr_sel_views_page(QWidget* parent = nullptr);

    bool page_init() override;
    int on_next() override;
    int on_back() override;

private:
    // Writes the page's choice into the conversion object.
    void store_selection();

    name_text_list m_views;
};
