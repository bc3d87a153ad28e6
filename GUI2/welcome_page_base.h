#pragma once
// The part of a welcome page that loads a profile: the profile file chooser
// and the load with its failure reports. The concrete page supplies the
// conversion object's load and the refresh of its own controls.

#include <string>

class QWidget;

class welcome_page_t {
public:
    // The extension is given without the dot ("pmr").
    explicit welcome_page_t(std::wstring extension);
    virtual ~welcome_page_t();

    const std::wstring& profile_extension() const noexcept { return m_extension; }
    // The open dialog's filter of profile files and all files. An extension
    // that is not 3 or 4 characters long is an internal error.
    std::wstring profile_filter() const;

    // The "Load profile..." button: asks for an existing profile file and
    // loads it (load_profile); cancelling only refreshes the controls.
    void on_load(QWidget* owner);
    // Loads one profile file into the conversion object and refreshes the
    // controls. A file that is not a readable profile is reported with
    // "Cannot load profile '<path>'"; an error raised while loading goes
    // through the error handler. Answers whether the profile was loaded.
    bool load_profile(const std::wstring& path);

protected:
    virtual bool load_profile_file(const std::wstring& path) = 0;
    virtual void update_from_cvt() = 0;

private:
    std::wstring m_extension;
};
