// macstamp: finds the card, reads its MAC address and writes it into the
// adapter driver's installation file (./SatNicDrv/SatNic.inf), then says
// whether the adapter driver is installed. Exit status 0 stamped (driver not
// yet installed), 1 stamped (driver installed), -1 on any failure.
#include "decoder/adapter.h"
#include "drivers/card/mac_address.h"
#include "drivers/linuxdvb/dvb_register.h"
#include "drivers/satnic/satnic.h"
#include "drivers/simcard/sim_register.h"
#include "macstamp/inf_stamp.h"
#include "platform/media/devenum.h"
#include "tuner/bdamanager.h"
#include "tuner/device_catalogue.h"
#include "tuner/find_filter.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

// Spruce and Alder are not stamped.
constexpr int32_t kStampedModels[] = {tuner::kModelMaple, tuner::kModelLarch, tuner::kModelCedar, tuner::kModelBirch};

int32_t detectModel()
{
    for (int32_t id : kStampedModels) {
        const tuner::DeviceModel* model = tuner::findModel(id);
        const std::string name = model->tunerName;
        const std::wstring wide(name.begin(), name.end());
        if (IBaseFilter* filter = FindFilter(KSCATEGORY_BDA_NETWORK_TUNER, wide.c_str())) {
            filter->Release();
            return id;
        }
    }
    return 0;
}

} // namespace

int main()
{
    // An address given that is none must not be replaced by another in the file.
    for (const char* variable : {"KEST_SIM_MAC", "KEST_DVB_MAC"}) {
        card::MacAddress mac{};
        const char* text = std::getenv(variable);
        if (text != nullptr && *text != '\0' && !card::parseMac(text, mac)) {
            std::fprintf(stderr, "macstamp error: %s=%s: not a MAC address (expected one like 02:11:22:33:44:55)\n",
                         variable, text);
            return -1;
        }
    }
    std::string error;
    if (!simcard::installFromEnvironment(&error))
        std::fprintf(stderr, "macstamp: %s\n", error.c_str());
    if (!linuxdvb::installFromEnvironment(&error))
        std::fprintf(stderr, "macstamp: %s", error.c_str());
    auto manager = std::make_unique<CBDAManager>();
    const int32_t model = detectModel();
    if (model == 0) {
        std::fprintf(stderr, "macstamp error: Kest devices not found\n");
        return -1;
    }
    if (manager->BuildGraph(model) < 0) {
        std::fprintf(stderr, "macstamp error: Create BDA graph error\n");
        return -1;
    }
    std::array<uint8_t, 6> mac{};
    manager->ReadMACAddress(mac.data()); // a failed read stamps 00-00-00-00-00-00
    if (!macstamp::stampFile(QString::fromLatin1(macstamp::kInfPath), mac)) {
        std::fprintf(stderr, "macstamp error: Cannot open file '%s': %s\n", macstamp::kInfName, std::strerror(errno));
        return -1;
    }
    int status = 0;
    std::string adapterError; // not installed: the answer, not a failure
    // Installed for the question only: a capture file a running receiver writes stays as it is.
    if (satnic::installFromEnvironment(&adapterError, satnic::InstallFor::Question)) {
        if (HANDLE adapter = openAdapter()) {
            closeAdapter(adapter);
            std::printf("Virtual MPE Decoder Adapter Driver already installed\n");
            status = 1;
        }
        satnic::uninstall();
    }
    manager.reset();
    return status;
}
