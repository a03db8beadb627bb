#include "tuner/device_catalogue.h"

#include <strings.h>

namespace tuner {

namespace {

constexpr DeviceModel kModels[] = {
    {kModelAlder, "Alder", "Kest Alder DVBS Tuner", "Kest Alder DVBS Capture", nullptr, "Kest Alder DVBS Tuner",
     "Kest Alder DVBS Capture", nullptr},
    {kModelBirch, "Birch", "Kest Birch BDA Tuner/Demod", "Kest Birch AVStream TS Capture", "Kest Birch Video Capture",
     "Kest Birch DVBS Tuner", "Kest Birch DVBS Capture", "Kest Ip Data 1.04 @ Kest Birch DVB-S"},
    {kModelCedar, "Cedar", "Kest Cedar BDA Tuner/Demod", "Kest Cedar AVStream TS Capture", "Kest Cedar Video Capture",
     "Kest Cedar DVBS Tuner", "Kest Cedar DVBS Capture", "Kest Ip Data 1.04 @ Kest Cedar DVB-S2"},
    {kModelLarch, "Larch", "Kest Larch BDA Tuner/Demod", "Kest Larch AVStream TS Capture", "Kest Larch Video Capture",
     "Kest Larch DVBS Tuner", "Kest Larch DVBS Capture", "Kest Ip Data 1.04 @ Kest Larch DVB-S2"},
    {kModelMaple, "Maple", "Kest Maple DVBS Tuner", "Kest Maple DVBS Capture", nullptr, "Kest Maple DVBS Tuner",
     "Kest Maple DVBS Capture", "Kest Ip Data 1.04 @ Kest Maple DVB-S2"},
    {kModelSpruce, "Spruce", "Kest Spruce BDA DVBS/S2 Tuner/Demod", "Kest Spruce DVBS/S2 AVStream TS Capture",
     "Kest Spruce Video Capture", "Kest Spruce DVBS Tuner", "Kest Spruce DVBS Capture",
     "Kest Ip Data 1.04 @ Kest Spruce DVB-S2"},
};

} // namespace

const DeviceModel* findModel(int32_t id)
{
    for (const DeviceModel& model : kModels)
        if (model.id == id)
            return &model;
    return nullptr;
}

const DeviceModel* findModelByCard(const std::string& card)
{
    for (const DeviceModel& model : kModels)
        if (strcasecmp(model.card, card.c_str()) == 0)
            return &model;
    return nullptr;
}

std::wstring widen(const char* text)
{
    std::wstring wide;
    for (const char* p = text; p && *p; ++p)
        wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*p)));
    return wide;
}

} // namespace tuner
