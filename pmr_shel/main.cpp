// The wizard program: the command line's text after the program name is a
// profile path for a quick launch.
#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "pmr_shel/pelmora_entry.h"

namespace {

// Set while the window system is being opened: a failure there ends the
// program with its own message instead of the window library's abort.
bool g_opening_display = false;

void no_display_exit(const char* detail)
{
    std::fprintf(stderr, "%s%s%s\n", pelmora_no_display_text, detail && *detail ? "\n" : "", detail ? detail : "");
    std::fflush(nullptr);
    std::_Exit(255);
}

void on_qt_message(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type == QtFatalMsg && g_opening_display)
        no_display_exit(nullptr);
    const QByteArray text = message.toLocal8Bit();
    std::fprintf(stderr, "%s\n", text.constData());
    if (type == QtFatalMsg)
        std::abort();
}

}  // namespace

int main(int argc, char** argv)
{
    // Without a display the window library would abort before any check of
    // ours could speak.
    if (!pelmora_display_available(std::getenv("QT_QPA_PLATFORM"), std::getenv("DISPLAY"),
                                   std::getenv("WAYLAND_DISPLAY")))
        no_display_exit("Neither DISPLAY nor WAYLAND_DISPLAY is set.");
    qInstallMessageHandler(on_qt_message);
    g_opening_display = true;
    QApplication app(argc, argv);
    g_opening_display = false;
    qInstallMessageHandler(nullptr);
    std::string command_line;
    for (int i = 1; i < argc; ++i) {
        if (i > 1)
            command_line += ' ';
        command_line += argv[i];
    }
    return pelmora_main(command_line);
}
