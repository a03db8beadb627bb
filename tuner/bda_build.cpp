// Building the graph: network provider, the card's filters, tee, demultiplexer,
// transport information filter and our sink, connected in a fixed order.
#include "tuner/bdamanager.h"

#include "platform/media/devenum.h"
#include "platform/media/inf_tee.h"
#include "platform/media/mpeg2_filters.h"
#include "tuner/device_catalogue.h"
#include "tuner/diagnostics.h"
#include "tuner/find_filter.h"
#include "tuner/input_filter.h"

#include <string>

using tuner::errorBox;


HRESULT CBDAManager::BuildGraph(int32_t modelId)
{
    tuner::debugLine("CBDAManager::BuildGraph\n");
    m_modelId = modelId;
    if (m_fGraphBuilt) {
        if (m_fGraphRunning)
            StopGraph();
        TearDownGraph();
    }

    m_pMediaControl.reset();
    HRESULT hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                  m_pGraphBuilder.putVoid());
    if (FAILED(hr) || !m_pGraphBuilder) {
        errorBox("Cannot create builder\n");
        BuildGraphError();
        return FAILED(hr) ? hr : E_FAIL;
    }
    m_fGraphFailure = false;

    auto fail = [this](const std::string& text) {
        errorBox(text.c_str());
        BuildGraphError();
        return E_FAIL;
    };

    m_pNetworkProvider = ComPtr<IBaseFilter>::adopt(CreateNetworkProvider());
    if (!m_pNetworkProvider)
        return fail("Cannot create Network DVBS Provider\n");
    m_pGraphBuilder->AddFilter(m_pNetworkProvider.get(), L"Network DVBS Provider");

    const tuner::DeviceModel* model = tuner::findModel(modelId);
    if (!model)
        return fail("Cannot found Kest devices\n");
    m_pTunerDevice = ComPtr<IBaseFilter>::adopt(
        FindFilter(KSCATEGORY_BDA_NETWORK_TUNER, tuner::widen(model->tunerName).c_str()));
    if (!m_pTunerDevice)
        return fail(std::string("Cannot load ") + model->tunerGraphName + "\n");
    m_pGraphBuilder->AddFilter(m_pTunerDevice.get(), tuner::widen(model->tunerGraphName).c_str());
    m_pCaptureDevice = ComPtr<IBaseFilter>::adopt(
        FindFilter(KSCATEGORY_BDA_RECEIVER_COMPONENT, tuner::widen(model->captureName).c_str()));
    if (!m_pCaptureDevice)
        return fail(std::string("Cannot load ") + model->captureGraphName + "\n");
    m_pGraphBuilder->AddFilter(m_pCaptureDevice.get(), tuner::widen(model->captureGraphName).c_str());

    if (FAILED(CoCreateInstance(CLSID_InfTee, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, m_pInfTee.putVoid())) ||
        !m_pInfTee)
        return fail("Cannot load Infinite pin tee splitter\n");
    m_pGraphBuilder->AddFilter(m_pInfTee.get(), L"Infinite pin tee splitter");
    if (FAILED(CoCreateInstance(CLSID_MPEG2Demultiplexer, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                m_pDemux.putVoid())) ||
        !m_pDemux)
        return fail("Cannot load MPEG2 Demultiplexer\n");
    m_pGraphBuilder->AddFilter(m_pDemux.get(), L"MPEG2 Demultiplexer");

    m_pTIF = ComPtr<IBaseFilter>::adopt(FindFilter(KSCATEGORY_BDA_TRANSPORT_INFORMATION, nullptr));
    if (!m_pTIF)
        return fail("Cannot load MPEG2 Transport information filter\n");
    m_pGraphBuilder->AddFilter(m_pTIF.get(), L"Transport information filter");

    HRESULT created = S_OK;
    m_pTSInputFilter = ComPtr<IBaseFilter>::adopt(tuner::createInputFilter(&created));
    if (FAILED(created) || !m_pTSInputFilter) {
        errorBox("Cannot create TSInputFilter\n");
        BuildGraphError();
        return FAILED(created) ? created : E_FAIL;
    }
    m_pGraphBuilder->AddFilter(m_pTSInputFilter.get(), L"TSInputFilter");

    if (model->videoCaptureName) {
        m_pVideoCapture = ComPtr<IBaseFilter>::adopt(
            FindFilter(KSCATEGORY_CAPTURE, tuner::widen(model->videoCaptureName).c_str()));
        if (!m_pVideoCapture)
            return fail(std::string("Cannot load ") + model->videoCaptureName + "\n");
    }

    IGraphBuilder* graph = m_pGraphBuilder.get();
    ConnectPins(graph, m_pNetworkProvider.get(), m_pTunerDevice.get(), nullptr, nullptr);
    ConnectPins(graph, m_pTunerDevice.get(), m_pCaptureDevice.get(), nullptr, nullptr);
    ConnectPins(graph, m_pCaptureDevice.get(), m_pInfTee.get(), nullptr, nullptr);
    ConnectPins(graph, m_pInfTee.get(), m_pDemux.get(), nullptr, nullptr);
    ConnectPins(graph, m_pInfTee.get(), m_pTSInputFilter.get(), nullptr, nullptr);
    ConnectPins(graph, m_pDemux.get(), m_pTIF.get(), L"1", nullptr);

    m_pGraphBuilder.As(&m_pMediaControl); // RunGraph asks again when this failed

    if (!GetDeviceControl())
        return fail("QI IBDA_DeviceControl interface failed\n");
    if (!GetTunerDemodPins())
        return fail("Getting tuner/demod pin pointers failed\n");

    if (FAILED(AddGraphToRot(m_pGraphBuilder.get(), &m_dwGraphRegister))) {
        errorBox("Failed to register filter graph with ROT!");
        m_dwGraphRegister = 0;
    }

    if (!GetIRCtrlInterface()) {
        errorBox("Getting IR control interface failed\n");
        BuildGraphError();
        return E_FAIL;
    }

    m_fGraphBuilt = true;
    m_fGraphFailure = false;
    return S_OK;
}

