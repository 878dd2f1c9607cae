// Talvenor's command line. Its own options are taken out of argv before Qt
// sees it; Qt then takes its own (-platform, -style and the like), and
// anything left after that is not understood.
#pragma once

#include <memory>
#include <string>

class LineCapture;

class CommandLine {
public:
    // Takes --capture FILE (or --capture=FILE), --listen-only and --help out
    // of argv.
    CommandLine(int& argc, char** argv);

    // -1: go on. Otherwise --help or a wrong use, printed already: the
    // program ends with this status.
    int ExitStatus() const { return exitStatus; }

    // After Qt took its own options out of argv: refuses what is left, and
    // creates the capture file asked for. False after one line on standard
    // error; the program then ends with status 2.
    bool Finish(int argc, char** argv, std::unique_ptr<LineCapture>& capture) const;

    // --listen-only: the line never writes.
    bool ListenOnly() const { return listenOnly; }

    static const char kHelp[];

private:
    std::string capturePath;
    int exitStatus = -1;
    bool listenOnly = false;
};
