// CBDAManager: the card's filter graph and everything that goes through it —
// tuning properties, the card's extension commands and the signal queries.
// Window thread only. Operations answer 1/0 (setters, commands, queries) or an
// HRESULT (graph operations); nothing a driver answers is thrown further.
#pragma once

#include "platform/ks/ks.h"
#include "platform/ks/bda.h"
#include "platform/media/graph.h"
#include "tuner/satellite_params.h"

#include <memory>

struct ITuningSpace;

class CBDAManager {
public:
    CBDAManager();
    ~CBDAManager();
    CBDAManager(const CBDAManager&) = delete;
    CBDAManager& operator=(const CBDAManager&) = delete;

    // Builds the graph for a model id (1..6); 0 on success. A graph built already is taken
    // down first.
    HRESULT BuildGraph(int32_t modelId);
    // Run control. RunGraph answers 0 at once when running already; StopGraph when not running.
    HRESULT RunGraph();
    HRESULT StopGraph();
    HRESULT TearDownGraph(); // 0
    void BuildGraphError();  // teardown after a failed build

    // Graph helpers.
    static HRESULT ConnectPins(IGraphBuilder* graph, IBaseFilter* upstream, IBaseFilter* downstream,
                               const wchar_t* outputPinName, const wchar_t* inputPinName);
    // Compares names in Windows-1251; the last match, with one reference; null without a match.
    static IPin* FindPinOnFilter(IBaseFilter* filter, const char* pinName);
    bool GetTunerDemodPins();
    IBaseFilter* CreateNetworkProvider();  // one reference, or null
    ITuningSpace* LoadTuningSpace();        // ours ("KEST DVB-S"), added to the system's when new
    ITuningSpace* CreateDVBSTuningSpace();
    static HRESULT AddGraphToRot(IUnknown* graph, DWORD* cookie);
    static void RemoveGraphFromRot(DWORD cookie);
    bool GetDeviceControl();

    // Tuning properties: 1 when written (and kept in the record), else 0.
    int SetCarrierFrequency(ULONG kHz);
    int SetPolarisation(LONG polarisation);
    int SetLNBLowOscFrequency(ULONG kHz);
    int SetLNBHighOscFrequency(ULONG kHz);
    int SetLNBSwitchFrequency(ULONG kHz);
    int SetSpectralInversion(LONG inversion);
    int SetSymbolRate(ULONG kSps);
    int SetInnerFECRate(LONG fecRate);
    int SetModulationType(LONG modulation);
    // The DVB-S2 stream selection (the card's stream set); debug lines only, like the FEC rate.
    int SetStreamId(LONG streamId);
    int SetPLSMode(LONG mode);
    int SetPLSCode(LONG code);
    int SetBasebandFrames(LONG on);
    // Whether the card can deliver baseband frames (it lists the property).
    bool SupportsBasebandFrames();
    // Writes all nine published properties, the stream selection when it is not the
    // default (a card without the stream set sees exactly the tunings it always saw),
    // and commits; 0 when the commit fails.
    int SetNewSatParams(const SatelliteParams* pNewSatParams);

    // Card extension commands.
    int SendDiSEqC(const BYTE* message, int length);
    int Power(int on);
    int ReadMACAddress(BYTE* mac); // six bytes on success, untouched otherwise
    bool GetIRCtrlInterface();

    // Signal status: 1 when *value was written.
    int GetSignalStrength(LONG* strength);
    int GetSignalQuality(LONG* quality);
    int GetDemodLocked(LONG* locked);

    // The record of the last values written.
    const SatelliteParams* satelliteParams() const { return m_pSatelliteParams.get(); }

    // Fields, in this order (public: the graph code and its tests reach them directly).
    ComPtr<IBaseFilter> m_pTSInputFilter;
    int32_t m_modelId = 0;
    bool m_fGraphBuilt = false;
    bool m_fGraphRunning = false;
    bool m_fGraphFailure = false;
    ComPtr<IKsPropertySet> m_pTunerInputPropSet;  // RF tuner, LNB, DiSEqC, power, strength
    ComPtr<IKsPropertySet> m_pTunerOutputPropSet; // demodulator, quality, lock; Maple: MAC, IR
    ComPtr<IKsPropertySet> m_pCapturePropSet;     // MAC, IR on the other models
    std::unique_ptr<SatelliteParams> m_pSatelliteParams;
    ComPtr<IPin> m_pTunerInputPin;
    ComPtr<IPin> m_pTunerOutputPin;
    ComPtr<IBDA_DeviceControl> m_pIBDADevCtrl;
    ComPtr<IGraphBuilder> m_pGraphBuilder;
    ComPtr<IMediaControl> m_pMediaControl;
    ComPtr<IBaseFilter> m_pNetworkProvider;
    ComPtr<IBaseFilter> m_pTunerDevice;
    ComPtr<IBaseFilter> m_pCaptureDevice;
    ComPtr<IBaseFilter> m_pInfTee;
    ComPtr<IBaseFilter> m_pDemux;
    ComPtr<IBaseFilter> m_pTIF;
    ComPtr<IBaseFilter> m_pVideoCapture; // property access only, never in the graph
    DWORD m_dwGraphRegister = 0;         // running object table cookie, 0 = not registered

    // One tuning property: where it is written and what its failures say.
    enum class TunerPin { Input, Output };
    struct TuningProperty {
        const char* entry;
        const char* querySupportedFailed;
        const char* setNotSupported;
        const char* setFailed;
        bool boxes; // false: debug lines only, and silence without an interface
        TunerPin pin;
        const GUID* set;
        DWORD id;
    };

private:
    int writeProperty(const TuningProperty& property, DWORD value);
    // Writes the property and, when that succeeded, its field of the record.
    template <class T>
    int writeTuning(const TuningProperty& property, T value, T SatelliteParams::*field);
    int sendCommand(const BYTE* block, const char* const texts[3]);
    IKsPropertySet* extensionPropertySet() const;
};
