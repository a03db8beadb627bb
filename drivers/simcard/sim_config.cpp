#include "drivers/simcard/sim_config.h"

#include <cerrno>
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

} // namespace

bool simConfigFromEnvironment(SimConfig& config, std::string* error)
{
    bool ok = true;
    if (const char* file = std::getenv("KEST_SIM_TS"))
        config.streamFile = file;
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
