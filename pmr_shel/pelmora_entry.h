#pragma once
// The wizard program from start to end: the logger, the error handler, the
// conversion object (which loads the remembered settings and stores them when
// it goes), the shell and its pages; runs the wizard and answers the exit code.
//
// A profile path on the command line is a quick launch: the profile is
// loaded, both servers are connected and the destination is prepared before
// the wizard opens on the progress page, so the conversion starts at once. A
// profile that does not load is reported and nothing is connected, dropped or
// deleted.
//
// Exit codes: the sheet's result (1 after Finish, 0 after Cancel or closing the
// window); -1 (status 255) when the start-up check fails, the quick-launch
// profile does not load, or an error reaches the entry point (for instance a
// failed connection in quick launch).
//
// A QApplication must exist.

#include <string>

// command_line: the text after the program name ("" for none).
int pelmora_main(const std::string& command_line);

// The window title.
std::wstring pelmora_title();

// Whether the window system can be reached: a display for the X11 or Wayland
// platforms (the default), any other platform Qt is told to use (offscreen,
// say) as it is. Arguments are the environment's QT_QPA_PLATFORM, DISPLAY and
// WAYLAND_DISPLAY (null when unset).
bool pelmora_display_available(const char* qpa_platform, const char* display, const char* wayland_display);

// Standard error's text when the window cannot be opened; the exit status is
// then 255.
inline constexpr const char* pelmora_no_display_text =
    "Failed to initialize GUI library: the wizard cannot open its window because no display can be reached.\n"
    "Start it from a desktop session, or with DISPLAY or WAYLAND_DISPLAY set (for example over ssh -X);\n"
    "the console program quindrel converts without a display.";
