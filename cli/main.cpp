// qrv-writer-cli: the QRV Writer session without windows, for production lines
// and scripts.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    qrv::cli::InstallInterruptHandlers();
    return qrv::cli::RunCli(args, stdout, stderr);
}
