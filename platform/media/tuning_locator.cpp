#include "platform/media/tuning.h"
#include "platform/media/tuning_accessors.h"

namespace {

using platform::media::detail::getValue;

struct LocatorValues {
    LONG carrierFrequency = -1;
    FECMethod innerFec = BDA_FEC_METHOD_NOT_SET;
    BinaryConvolutionCodeRate innerFecRate = BDA_BCC_RATE_NOT_SET;
    FECMethod outerFec = BDA_FEC_METHOD_NOT_SET;
    BinaryConvolutionCodeRate outerFecRate = BDA_BCC_RATE_NOT_SET;
    ModulationType modulation = BDA_MOD_NOT_SET;
    LONG symbolRate = -1;
    Polarisation polarisation = BDA_POLARISATION_NOT_SET;
    VARIANT_BOOL westPosition = VARIANT_FALSE;
    LONG orbitalPosition = -1;
    LONG azimuth = -1;
    LONG elevation = -1;
};

class DVBSLocator : public platform::ComObject<IDVBSLocator> {
public:
    DVBSLocator() = default;
    explicit DVBSLocator(const LocatorValues& values) : v_(values) {}

    HRESULT get_CarrierFrequency(LONG* khz) override { return getValue(v_.carrierFrequency, khz); }
    HRESULT put_CarrierFrequency(LONG khz) override { v_.carrierFrequency = khz; return S_OK; }
    HRESULT get_InnerFEC(FECMethod* method) override { return getValue(v_.innerFec, method); }
    HRESULT put_InnerFEC(FECMethod method) override { v_.innerFec = method; return S_OK; }
    HRESULT get_InnerFECRate(BinaryConvolutionCodeRate* rate) override { return getValue(v_.innerFecRate, rate); }
    HRESULT put_InnerFECRate(BinaryConvolutionCodeRate rate) override { v_.innerFecRate = rate; return S_OK; }
    HRESULT get_OuterFEC(FECMethod* method) override { return getValue(v_.outerFec, method); }
    HRESULT put_OuterFEC(FECMethod method) override { v_.outerFec = method; return S_OK; }
    HRESULT get_OuterFECRate(BinaryConvolutionCodeRate* rate) override { return getValue(v_.outerFecRate, rate); }
    HRESULT put_OuterFECRate(BinaryConvolutionCodeRate rate) override { v_.outerFecRate = rate; return S_OK; }
    HRESULT get_Modulation(ModulationType* modulation) override { return getValue(v_.modulation, modulation); }
    HRESULT put_Modulation(ModulationType modulation) override { v_.modulation = modulation; return S_OK; }
    HRESULT get_SymbolRate(LONG* rate) override { return getValue(v_.symbolRate, rate); }
    HRESULT put_SymbolRate(LONG rate) override { v_.symbolRate = rate; return S_OK; }

    HRESULT get_SignalPolarisation(Polarisation* p) override { return getValue(v_.polarisation, p); }
    HRESULT put_SignalPolarisation(Polarisation p) override { v_.polarisation = p; return S_OK; }
    HRESULT get_WestPosition(VARIANT_BOOL* west) override { return getValue(v_.westPosition, west); }
    HRESULT put_WestPosition(VARIANT_BOOL west) override { v_.westPosition = west; return S_OK; }
    HRESULT get_OrbitalPosition(LONG* position) override { return getValue(v_.orbitalPosition, position); }
    HRESULT put_OrbitalPosition(LONG position) override { v_.orbitalPosition = position; return S_OK; }
    HRESULT get_Azimuth(LONG* azimuth) override { return getValue(v_.azimuth, azimuth); }
    HRESULT put_Azimuth(LONG azimuth) override { v_.azimuth = azimuth; return S_OK; }
    HRESULT get_Elevation(LONG* elevation) override { return getValue(v_.elevation, elevation); }
    HRESULT put_Elevation(LONG elevation) override { v_.elevation = elevation; return S_OK; }

    HRESULT Clone(ILocator** copy) override
    {
        return platform::createObject<DVBSLocator>(IID_ILocator, reinterpret_cast<void**>(copy), v_);
    }

private:
    LocatorValues v_;
};

} // namespace

namespace platform::media {

HRESULT createDVBSLocator(REFIID riid, void** object)
{
    return createObject<DVBSLocator>(riid, object);
}

} // namespace platform::media
