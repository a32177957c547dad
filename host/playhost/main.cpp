// playhost: loads a player component the way the media player does and lets a
// person use it from the command line.
//
//   playhost [--component PATH]... [--profile DIR] COMMAND [ARGS...]
//
// Without --component the module corvina.so beside this program is loaded.
// The profile folder (default ~/.playhost) holds the saved settings.
#include <unistd.h>

#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "host/core/host.h"
#include "host/playhost/commands.h"
#include "host/playhost/output.h"

namespace {

using namespace playhost;

void PrintUsage(std::ostream& out) {
    out << "usage: playhost [--component PATH]... [--profile DIR] COMMAND [ARGS...]\n"
           "  --component PATH  component module to load (default: corvina.so beside playhost)\n"
           "  --profile DIR     profile folder holding the settings (default: ~/.playhost)\n"
           "commands:\n";
    for (const CommandSpec& spec : Commands())
        out << "  " << spec.synopsis << "\n      " << spec.help << '\n';
}

std::filesystem::path ProgramDir() {
    std::error_code ec;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::current_path() : self.parent_path();
}

int Run(int argc, char** argv) {
    std::vector<std::filesystem::path> components;
    std::filesystem::path profile = DefaultProfileDir();
    int i = 1;
    for (; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "--component" || word == "--profile") {
            if (i + 1 >= argc) {
                std::cerr << "playhost: " << word << " needs a value\n";
                return kExitUsage;
            }
            (word == "--component" ? components.emplace_back(argv[++i]) : profile = argv[++i]);
        } else if (word == "--help" || word == "-h" || word == "help") {
            PrintUsage(std::cout);
            return kExitOk;
        } else if (word.starts_with("--")) {
            std::cerr << "playhost: unknown option " << word << '\n';
            PrintUsage(std::cerr);
            return kExitUsage;
        } else {
            break;
        }
    }
    if (i >= argc) {
        PrintUsage(std::cerr);
        return kExitUsage;
    }
    const CommandSpec* command = FindCommand(argv[i]);
    if (!command) {
        std::cerr << "playhost: unknown command " << argv[i] << '\n';
        PrintUsage(std::cerr);
        return kExitUsage;
    }
    const std::vector<std::string> args(argv + i + 1, argv + argc);
    if (components.empty()) components.push_back(ProgramDir() / "corvina.so");

    try {
        Host host(profile);
        for (const auto& path : components) host.LoadComponent(path);
        host.Start();
        Session session{host, std::cout, std::cerr};
        int code = kExitFailure;
        try {
            code = command->run(session, args);
        } catch (const std::exception& e) {
            WriteKeyValue(std::cout, "error", e.what());
            code = kExitFailure;
        }
        host.Stop();
        return code;
    } catch (const std::exception& e) {
        WriteKeyValue(std::cout, "error", e.what());
        return kExitFailure;
    }
}

}  // namespace

int main(int argc, char** argv) {
    const int code = Run(argc, argv);
    std::cout.flush();
    return code;
}
