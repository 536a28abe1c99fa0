#include "sim/options.h"

#include <charconv>
#include <sstream>

namespace qrv::sim {

namespace {
bool ParseInt(const std::string& s, int* out) {
    auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), *out);
    return ec == std::errc() && p == s.data() + s.size() && *out >= 0;
}
}  // namespace

bool ParseSimOptions(const std::string& text, SimOptions* options, std::string* error) {
    std::stringstream ss(text);
    std::string item;
    while (std::getline(ss, item, ',')) {
        if (item.empty()) continue;
        const auto eq = item.find('=');
        const std::string key = item.substr(0, eq);
        const std::string value = eq == std::string::npos ? "" : item.substr(eq + 1);
        if (key == "latency-us" && ParseInt(value, &options->latencyUs)) continue;
        *error = "unknown or malformed simulator option '" + item + "'";
        return false;
    }
    return true;
}

const char* SimOptionsHelp() {
    return "  --simulate[=OPTIONS]  use the built-in simulated programmer; OPTIONS is a\n"
           "                        comma-separated list of:\n"
           "                          latency-us=N   delay per reply (default 1000)\n";
}

}  // namespace qrv::sim
