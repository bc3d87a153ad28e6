#pragma once
// The modal "Add Query" dialog of the tables page: a name and a SELECT text
// that the conversion treats as a source table of that name. OK checks both;
// "Test Query" asks the source server whether the text would run (the server
// prepares it, nothing is executed).

#include <QDialog>
#include <string>

class QLineEdit;
class QPlainTextEdit;

class set_query_dlg : public QDialog {
    Q_OBJECT
public:
    set_query_dlg(std::wstring name, std::wstring query, QWidget* parent = nullptr);

    // What the last OK attempt read (the caller reads them after OK).
    const std::wstring& name() const noexcept { return m_name; }
    const std::wstring& query() const noexcept { return m_query; }

    // Removes blanks (tab, line feed, carriage return, space) in front of the
    // text, unless nothing else remains, and tells whether the text fails the
    // SELECT test: a non-empty text must start with SELECT in any letter case.
    static bool strip_and_check(std::wstring& text);

public slots:
    void accept() override;
    void reject() override;

private slots:
    void on_test_query();

private:
    std::wstring m_name;
    std::wstring m_query;
    QLineEdit* m_name_box;
    QPlainTextEdit* m_query_box;
};
