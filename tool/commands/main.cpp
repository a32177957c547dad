// Quillet: one command per run, taken from the command line.
#include <clocale>

#include "tool/commands/entry.h"

int main(int argc, char** argv) {
    // The locale decides the ANSI code page that arguments and redirected
    // output are read and written in.
    std::setlocale(LC_ALL, "");
    return static_cast<int>(quillet::ProcessEntry(quillet::DecodeArguments(argc, argv)));
}
