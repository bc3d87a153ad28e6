// The wizard program: the command line's text after the program name is a
// profile path for a quick launch.
#include <QApplication>

#include <string>

#include "pmr_shel/pelmora_entry.h"

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    std::string command_line;
    for (int i = 1; i < argc; ++i) {
        if (i > 1)
            command_line += ' ';
        command_line += argv[i];
    }
    return pelmora_main(command_line);
}
