// The manager's life, and running, stopping and taking down its graph.
#include "tuner/bdamanager.h"

#include "tuner/diagnostics.h"
#include "tuner/input_filter.h"

#include <new>

using tuner::debugLine;
using tuner::errorBox;

CBDAManager::CBDAManager() : m_pSatelliteParams(new (std::nothrow) SatelliteParams)
{
    tuner::check(m_pSatelliteParams != nullptr, "m_pSatelliteParams", 457);
}

CBDAManager::~CBDAManager()
{
    debugLine("CBDAManager::~CBDAManager()\n");
    if (m_fGraphRunning)
        StopGraph();
    if (m_fGraphBuilt || m_fGraphFailure)
        TearDownGraph();
    m_pSatelliteParams.reset();
    m_pIBDADevCtrl.reset();
    m_pTunerInputPin.reset();
    m_pTunerOutputPin.reset();
    m_pTunerInputPropSet.reset();
    m_pTunerOutputPropSet.reset();
    m_pCapturePropSet.reset();
    m_pMediaControl.reset();
    m_pGraphBuilder.reset();
}

HRESULT CBDAManager::RunGraph()
{
    if (m_fGraphRunning)
        return S_OK;
    debugLine("CBDAManager: CBDAFilterGraph::RunGraph\n");
    if (!m_pMediaControl) {
        if (!m_pGraphBuilder)
            return E_FAIL;
        const HRESULT hr = m_pGraphBuilder.As(&m_pMediaControl);
        if (FAILED(hr))
            return hr;
    }
    const HRESULT hr = m_pMediaControl->Run();
    if (FAILED(hr)) {
        m_pMediaControl->Stop();
        errorBox("Cannot run graph\n");
        return hr;
    }
    m_fGraphRunning = true;
    return hr;
}

HRESULT CBDAManager::StopGraph()
{
    debugLine("CBDAManager::StopGraph\n");
    if (!m_fGraphRunning)
        return S_OK;
    tuner::setInputFilterDelivery(m_pTSInputFilter.get(), false);
    if (!m_pMediaControl)
        return E_FAIL;
    m_pMediaControl->Pause();
    debugLine("CBDAManager::StopGraph - Pause\n");
    const HRESULT hr = m_pMediaControl->Stop();
    debugLine("CBDAManager::StopGraph - Stop\n");
    m_fGraphRunning = FAILED(hr);
    return hr;
}

HRESULT CBDAManager::TearDownGraph()
{
    debugLine("CBDAManager::TearDownGraph\n");
    if (m_dwGraphRegister) {
        RemoveGraphFromRot(m_dwGraphRegister);
        m_dwGraphRegister = 0;
    }
    if (!m_fGraphBuilt && !m_fGraphFailure) {
        debugLine("CBDAManager::TearDownGraph completed\n");
        return S_OK;
    }
    m_pVideoCapture.reset();
    ComPtr<IBaseFilter>* const inGraph[] = {&m_pTIF, &m_pDemux, &m_pInfTee, &m_pNetworkProvider, &m_pTunerDevice,
                                            &m_pCaptureDevice, &m_pTSInputFilter};
    for (ComPtr<IBaseFilter>* filter : inGraph) {
        if (*filter && m_pGraphBuilder)
            m_pGraphBuilder->RemoveFilter(filter->get());
        filter->reset();
    }
    debugLine("CBDAManager::TearDownGraph completed\n");
    m_fGraphBuilt = false;
    return S_OK;
}

void CBDAManager::BuildGraphError()
{
    debugLine("CBDAManager::BuildGraphError\n");
    // Flagged first: a first build that fails is neither built nor failed yet, and the
    // teardown would otherwise leave its filters in the graph.
    m_fGraphFailure = true;
    TearDownGraph();
}
