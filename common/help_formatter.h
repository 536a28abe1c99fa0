// The help of both programs as their users know it: "--simulate[=OPTIONS]".
#pragma once

#include <CLI/CLI.hpp>
#include <string>

namespace qrv {

// The braces of "--simulate{}" give the flag its value when no "=OPTIONS"
// follows; the help shows them as "[=OPTIONS]".
class HelpFormatter : public CLI::Formatter {
  public:
    std::string make_option_name(const CLI::Option* option, bool positional) const override {
        std::string name = CLI::Formatter::make_option_name(option, positional);
        if (const auto at = name.find("{}"); at != std::string::npos)
            name.replace(at, 2, "[=OPTIONS]");
        return name;
    }
};

}  // namespace qrv
