// Enumerators over a snapshot taken when they are created (pins, filters, media types).
// They are read once, from the start: Next is all they have.
#pragma once

#include "platform/media/interfaces.h"

#include <vector>

namespace platform {

template <class IEnum, class Item>
class ComEnum final : public ComObject<IEnum> {
public:
    explicit ComEnum(std::vector<ComPtr<Item>> items) : items_(std::move(items)) {}

    HRESULT Next(ULONG count, Item** out, ULONG* fetched) override
    {
        if (out == nullptr)
            return E_POINTER;
        if (count > 1 && fetched == nullptr)
            return E_INVALIDARG;
        ULONG n = 0;
        for (; n < count && position_ < items_.size(); ++n)
            items_[position_++].copyTo(&out[n]);
        if (fetched != nullptr)
            *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }

private:
    std::vector<ComPtr<Item>> items_;
    size_t position_ = 0;
};

using PinEnum = ComEnum<IEnumPins, IPin>;
using FilterEnum = ComEnum<IEnumFilters, IBaseFilter>;

class MediaTypeEnum final : public ComObject<IEnumMediaTypes> {
public:
    explicit MediaTypeEnum(std::vector<MediaType> types) : types_(std::move(types)) {}
    HRESULT Next(ULONG count, AM_MEDIA_TYPE** out, ULONG* fetched) override;

private:
    std::vector<MediaType> types_;
    size_t position_ = 0;
};

} // namespace platform
