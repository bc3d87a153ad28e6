// Entry point of the console program.
#include "console/console_entry.h"

int main(int argc, char** argv)
{
    return quindrel_main(argc, argv);
}
