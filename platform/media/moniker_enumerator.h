// The COM enumerator shape (Next, Skip, Reset, Clone) over a fixed list of interface pointers,
// for IEnumMoniker and its kin (IEnumTuningSpaces). Clones share the list, not the position.
#pragma once

#include "platform/media/com.h"

#include <memory>
#include <vector>

namespace platform::media {

template <class Enum, class Item>
class ComEnumerator : public ComObject<Enum> {
public:
    using Items = std::vector<ComPtr<Item>>;
    explicit ComEnumerator(std::shared_ptr<const Items> items, size_t position = 0)
        : items_(std::move(items)), position_(position) {}

    HRESULT Next(ULONG count, Item** out, ULONG* fetched) override
    {
        if (out == nullptr || (count > 1 && fetched == nullptr))
            return E_POINTER;
        ULONG n = 0;
        while (n < count && position_ < items_->size()) {
            (*items_)[position_++].copyTo(&out[n]);
            ++n;
        }
        if (fetched)
            *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    HRESULT Skip(ULONG count) override
    {
        const size_t left = items_->size() - position_;
        position_ += count < left ? count : left;
        return count <= left ? S_OK : S_FALSE;
    }
    HRESULT Reset() override { position_ = 0; return S_OK; }
    HRESULT Clone(Enum** copy) override
    {
        return createObject<ComEnumerator>(Enum::kIid, reinterpret_cast<void**>(copy), items_, position_);
    }

private:
    std::shared_ptr<const Items> items_;
    size_t position_;
};

// Hands out an enumerator over `items`.
template <class Enum, class Item>
HRESULT createEnumerator(std::vector<ComPtr<Item>> items, Enum** out)
{
    auto shared = std::make_shared<const std::vector<ComPtr<Item>>>(std::move(items));
    return createObject<ComEnumerator<Enum, Item>>(Enum::kIid, reinterpret_cast<void**>(out), std::move(shared));
}

} // namespace platform::media
