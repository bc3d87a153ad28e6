#pragma once
// "PostgreSQL Advanced Settings": the SSL files of the PostgreSQL connection.
// The dialog keeps nothing of its own: it shows the engine's SSL fields and
// writes all six back on OK (Cancel writes nothing); the engine uses them at
// its next connection.

#include <QDialog>

class QCheckBox;
class QLineEdit;
class QPushButton;
class pgs_engine;

class pgs_advanced_settings : public QDialog {
    Q_OBJECT
public:
    static constexpr int template_id = 137;
    static constexpr int help_topic = 1030;

    explicit pgs_advanced_settings(pgs_engine& engine, QWidget* owner = nullptr);
    ~pgs_advanced_settings() override;

private:
    void on_init();
    void on_ok();
    void on_help();
    // Which fields can be edited follows the two check boxes: the CA and
    // revocation files and the authentication box with "Use SSL", the client
    // certificate and key with both.
    void update_enabled();
    void browse(QLineEdit* edit, const QString& title);

    pgs_engine& m_engine;
    QCheckBox* m_use_ssl = nullptr;
    QCheckBox* m_use_auth = nullptr;
    QLineEdit* m_root_cert = nullptr;
    QLineEdit* m_revocation = nullptr;
    QLineEdit* m_client_cert = nullptr;
    QLineEdit* m_client_key = nullptr;
    QPushButton* m_browse_root = nullptr;
    QPushButton* m_browse_revocation = nullptr;
    QPushButton* m_browse_cert = nullptr;
    QPushButton* m_browse_key = nullptr;
};
