#include "app/CommandLine.h"

#include <cstdio>
#include <string_view>

#include "trace/LineCapture.h"
#include "serial/SystemError.h"

const char CommandLine::kHelp[] =
    "Usage: talvenor [--capture FILE] [--listen-only]\n"
    "A test tool for devices on a serial line: a Modbus master request generator\n"
    "and a line monitor.\n"
    "\n"
    "  --capture FILE  record everything that crosses the line, both ways, into\n"
    "                  FILE (created or overwritten) while Talvenor runs: a pcap\n"
    "                  file of link type 250 (RTAC serial) that Wireshark opens;\n"
    "                  tshark -r FILE -d \"rtacser.data,mbrtu\" decodes Modbus RTU\n"
    "  --listen-only   never write to the line: sending refuses, RTS and DTR are\n"
    "                  lowered as soon as the port is open (the line control\n"
    "                  window, Ctrl+L, can set them)\n"
    "  --help          show this text\n"
    "\n"
    "Qt's own options (-platform, -style, ...) are taken as well. SIGINT, SIGTERM\n"
    "and SIGHUP end Talvenor as closing its window does.\n"
    "\n"
    "Exit status: 0; 1 when the capture failed or could not be written out whole;\n"
    "2 on a wrong use.\n";

namespace {

constexpr std::string_view kCapture = "--capture";

int Refuse(const std::string& why) {
    std::fprintf(stderr, "talvenor: %s (see --help)\n", why.c_str());
    return 2;
}

}  // namespace

CommandLine::CommandLine(int& argc, char** argv) {
    int kept = 1;
    bool captureGiven = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--help" || argument == "-h") {
            std::fputs(kHelp, stdout);
            exitStatus = 0;
            return;
        }
        if (argument == "--listen-only") {
            listenOnly = true;
            continue;
        }
        if (argument == kCapture || argument.starts_with("--capture=")) {
            const bool joined = argument != kCapture;
            if (!joined && i + 1 == argc) {
                exitStatus = Refuse("--capture needs a file name");
                return;
            }
            const std::string_view file = joined ? argument.substr(kCapture.size() + 1) : argv[++i];
            if (file.empty() || captureGiven) {
                exitStatus = Refuse(file.empty() ? "--capture needs a file name"
                                                 : "--capture is given once");
                return;
            }
            capturePath = file;
            captureGiven = true;
            continue;
        }
        argv[kept++] = argv[i];
    }
    argc = kept;
    argv[argc] = nullptr;
}

bool CommandLine::Finish(int argc, char** argv, std::unique_ptr<LineCapture>& capture) const {
    if (argc > 1) {
        const std::string_view argument = argv[1];
        Refuse((argument.starts_with("-") ? "unknown option " : "unexpected argument ") +
               std::string(argument));
        return false;
    }
    if (capturePath.empty()) return true;
    int error = 0;
    capture = LineCapture::Create(capturePath, error);
    if (!capture) {
        std::fprintf(stderr, "talvenor: cannot create the capture file %s: %s\n",
                     capturePath.c_str(), SystemErrorText(error).c_str());
        return false;
    }
    return true;
}
