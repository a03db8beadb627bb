#include "drivers/simcard/sim_config.h"

#include <cerrno>
#include <algorithm>
#include <cstdlib>

namespace simcard {

namespace {

void addError(std::string* error, const std::string& line)
{
    if (error == nullptr)
        return;
    if (!error->empty())
        *error += '\n';
    *error += line;
}

// "isiN=PATH" entries separated by ';'; false unless every entry is one.
bool parseStreams(const std::string& text, std::vector<SimStream>& streams)
{
    std::vector<SimStream> parsed;
    size_t start = 0;
    while (start <= text.size()) {
        const size_t end = std::min(text.find(';', start), text.size());
        const std::string entry = text.substr(start, end - start);
        const size_t equals = entry.find('=');
        if (entry.rfind("isi", 0) != 0 || equals == std::string::npos || equals == 3 || equals > 6
            || equals + 1 == entry.size())
            return false;
        int isi = 0;
        for (size_t i = 3; i < equals; ++i) {
            if (entry[i] < '0' || entry[i] > '9')
                return false;
            isi = isi * 10 + (entry[i] - '0');
        }
        if (isi > 255)
            return false;
        parsed.push_back({isi, entry.substr(equals + 1)});
        start = end + 1;
    }
    streams = std::move(parsed);
    return true;
}

} // namespace

bool simConfigFromEnvironment(SimConfig& config, std::string* error)
{
    bool ok = true;
    if (const char* file = std::getenv("KEST_SIM_TS")) {
        const std::string value = file;
        if (value.rfind("isi", 0) == 0 && value.find('=') != std::string::npos) {
            if (!parseStreams(value, config.streams)) {
                addError(error, "KEST_SIM_TS=" + value + ": expected isiN=FILE entries (N 0 to 255) separated by ';'");
                ok = false;
            }
        } else {
            config.streamFile = value;
        }
    }
    if (const char* loop = std::getenv("KEST_SIM_LOOP"); loop != nullptr && *loop != '\0') {
        const std::string value = loop;
        if (value == "0" || value == "1") {
            config.loop = value == "1";
        } else {
            addError(error, "KEST_SIM_LOOP=" + value + ": expected 0 or 1");
            ok = false;
        }
    }
    if (const char* rate = std::getenv("KEST_SIM_RATE"); rate != nullptr && *rate != '\0') {
        char* end = nullptr;
        errno = 0;
        const unsigned long value = std::strtoul(rate, &end, 10);
        if (*rate >= '0' && *rate <= '9' && *end == '\0' && errno == 0 && value <= 100000000ul) {
            config.rateKbps = static_cast<uint32_t>(value);
        } else {
            addError(error, std::string("KEST_SIM_RATE=") + rate + ": expected kbit/s from 0 to 100000000");
            ok = false;
        }
    }
    if (const char* mac = std::getenv("KEST_SIM_MAC"); mac != nullptr && *mac != '\0') {
        if (!parseMac(mac, config.mac)) {
            addError(error, std::string("KEST_SIM_MAC=") + mac + ": expected an address like 02:11:22:33:44:55");
            ok = false;
        }
    }
    return ok;
}

} // namespace simcard
