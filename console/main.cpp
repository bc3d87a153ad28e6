// Entry point of the console program.
#include <cstdio>

int main(int argc, char** argv)
{
    std::printf("quindrel: MySQL to PostgreSQL conversion (console)\n");
    return 0;
}
