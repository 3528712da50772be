// COleControl kept in a container's storage (IPersistStorage) or memory block (IPersistMemory),
// both with the bytes of its stream, and quick activation (IQuickActivate).
#include <cstddef>
#include <cstring>
#include <string>

#include "platform/com/com_exception.h"
#include "platform/ctl/olecontrol.h"

namespace {

// The stream of a control's storage that holds its state, as the framework names it.
constexpr OLECHAR kContentsStream[] = u"Contents";

// The first published forms of the quick-activation structures, which later ones extend.
constexpr ULONG kMinQaContainer = offsetof(QACONTAINER, pOleControlSite);
constexpr ULONG kMinQaControl = offsetof(QACONTROL, dwPointerActivationPolicy);

}  // namespace

// ---------------------------------------------------------------- IPersistStorage

HRESULT COleControl::InitNew(IStorage* pStg) {
    if (!pStg) return E_POINTER;
    if (m_bStorageInitialized) return CO_E_ALREADYINITIALIZED;
    HRESULT hr = InitNew();
    if (FAILED(hr)) return hr;
    m_pStorage = pStg;
    m_storageMode = StorageMode::kNormal;
    m_bStorageInitialized = true;
    return S_OK;
}

HRESULT COleControl::Load(IStorage* pStg) {
    if (!pStg) return E_POINTER;
    if (m_bStorageInitialized) return CO_E_ALREADYINITIALIZED;
    ComPtr<IStream> stream;
    HRESULT hr =
        pStg->OpenStream(kContentsStream, nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, &stream);
    if (FAILED(hr)) return hr;
    if (!stream) return E_UNEXPECTED;
    hr = Load(stream.Get());
    if (FAILED(hr)) return hr;
    m_pStorage = pStg;
    m_storageMode = StorageMode::kNormal;
    m_bStorageInitialized = true;
    return S_OK;
}

HRESULT COleControl::Save(IStorage* pStgSave, BOOL fSameAsLoad) {
    if (!pStgSave) return E_POINTER;
    if (m_storageMode == StorageMode::kHandsOff) return E_UNEXPECTED;
    ComPtr<IStream> stream;
    HRESULT hr = pStgSave->CreateStream(
        kContentsStream, STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, 0, &stream);
    if (FAILED(hr)) return hr;
    if (!stream) return E_UNEXPECTED;
    hr = Save(stream.Get(), fSameAsLoad);
    if (FAILED(hr)) return hr;
    m_storageMode = StorageMode::kNoScribble;
    return S_OK;
}

HRESULT COleControl::SaveCompleted(IStorage* pStgNew) {
    if (m_storageMode == StorageMode::kNormal) return E_UNEXPECTED;
    if (m_storageMode == StorageMode::kHandsOff && !pStgNew) return E_INVALIDARG;
    if (pStgNew) m_pStorage = pStgNew;
    m_storageMode = StorageMode::kNormal;
    // The container's sinks hear that the object was saved.
    const auto sinks = m_adviseSinks;
    for (const auto& sink : sinks) sink.second->OnSave();
    return S_OK;
}

HRESULT COleControl::HandsOffStorage() {
    m_pStorage.Reset();
    m_storageMode = StorageMode::kHandsOff;
    return S_OK;
}

// ---------------------------------------------------------------- IPersistMemory

HRESULT COleControl::Load(void* pMem, ULONG cbSize) {
    if (!pMem) return E_POINTER;
    try {
        std::string previous;
        MeasureState(&previous);
        if (cbSize < previous.size()) return STG_E_READFAULT;
        return LoadState(std::string(static_cast<const char*>(pMem), previous.size()), previous);
    } catch (...) {
        return HresultFromCurrentException();
    }
}

HRESULT COleControl::Save(void* pMem, BOOL fClearDirty, ULONG cbSize) {
    if (!pMem) return E_POINTER;
    try {
        std::string bytes;
        MeasureState(&bytes);
        if (cbSize < bytes.size()) return STG_E_MEDIUMFULL;
        std::memcpy(pMem, bytes.data(), bytes.size());
        if (fClearDirty) m_bModified = false;
        return S_OK;
    } catch (...) {
        return HresultFromCurrentException();
    }
}

HRESULT COleControl::GetSizeMax(ULONG* pCbSize) {
    if (!pCbSize) return E_POINTER;
    ULARGE_INTEGER size{};
    HRESULT hr = GetSizeMax(&size);
    if (FAILED(hr)) return hr;
    *pCbSize = static_cast<ULONG>(size.QuadPart);
    return S_OK;
}

// ---------------------------------------------------------------- IQuickActivate

HRESULT COleControl::QuickActivate(QACONTAINER* pQaContainer, QACONTROL* pQaControl) {
    if (!pQaContainer || !pQaControl) return E_POINTER;
    if (pQaContainer->cbSize < kMinQaContainer || pQaControl->cbSize < kMinQaControl)
        return E_INVALIDARG;

    HRESULT hr = SetClientSite(pQaContainer->pClientSite);
    if (FAILED(hr)) return hr;
    m_dwQuickAmbientFlags = pQaContainer->dwAmbientFlags;
    if (pQaContainer->pAdviseSink) {
        hr = SetAdvise(DVASPECT_CONTENT, 0, pQaContainer->pAdviseSink);
        if (FAILED(hr)) return hr;
    }
    DWORD eventCookie = 0;
    if (pQaContainer->pUnkEventSink &&
        FAILED(m_xEventConnPt.Advise(pQaContainer->pUnkEventSink, &eventCookie)))
        eventCookie = 0;

    // The container's cbSize stays; the rest of what it sized is the control's answer.
    const ULONG size = pQaControl->cbSize;
    QACONTROL answer{};
    answer.cbSize = size;
    GetMiscStatus(DVASPECT_CONTENT, &answer.dwMiscStatus);
    answer.dwViewStatus = GetViewStatus();
    answer.dwEventCookie = eventCookie;
    answer.dwPropNotifyCookie = 0;
    answer.dwPointerActivationPolicy = 0;
    std::memcpy(pQaControl, &answer, size < sizeof answer ? size : sizeof answer);
    return S_OK;
}

HRESULT COleControl::SetContentExtent(LPSIZEL pSizel) {
    return SetExtent(DVASPECT_CONTENT, pSizel);
}

HRESULT COleControl::GetContentExtent(LPSIZEL pSizel) {
    return GetExtent(DVASPECT_CONTENT, pSizel);
}
