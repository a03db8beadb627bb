// Enumerators over a snapshot taken when they are created (pins, filters, media types).
#pragma once

#include "platform/media/interfaces.h"

#include <vector>

namespace platform {

template <class IEnum, class Item>
class ComEnum final : public ComObject<IEnum> {
public:
    explicit ComEnum(std::vector<ComPtr<Item>> items, size_t position = 0)
        : items_(std::move(items)), position_(position) {}

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
    HRESULT Skip(ULONG count) override
    {
        const bool all = items_.size() - position_ >= count;
        position_ = all ? position_ + count : items_.size();
        return all ? S_OK : S_FALSE;
    }
    HRESULT Reset() override { position_ = 0; return S_OK; }
    HRESULT Clone(IEnum** copy) override
    {
        return createObject<ComEnum>(IEnum::kIid, reinterpret_cast<void**>(copy), items_, position_);
    }

private:
    std::vector<ComPtr<Item>> items_;
    size_t position_;
};

using PinEnum = ComEnum<IEnumPins, IPin>;
using FilterEnum = ComEnum<IEnumFilters, IBaseFilter>;

class MediaTypeEnum final : public ComObject<IEnumMediaTypes> {
public:
    explicit MediaTypeEnum(std::vector<MediaType> types, size_t position = 0)
        : types_(std::move(types)), position_(position) {}
    HRESULT Next(ULONG count, AM_MEDIA_TYPE** out, ULONG* fetched) override;
    HRESULT Skip(ULONG count) override;
    HRESULT Reset() override { position_ = 0; return S_OK; }
    HRESULT Clone(IEnumMediaTypes** copy) override;

private:
    std::vector<MediaType> types_;
    size_t position_;
};

} // namespace platform
