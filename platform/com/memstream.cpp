// IStream over growable memory. Clones share the bytes and keep their own position, as the
// platform's memory streams do.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <string>

#include "platform/com/com_exception.h"
#include "platform/com/memory_stream.h"
#include "platform/com/objidl.h"

namespace {

// Identifies our own streams to GetMemoryStreamBytes; never handed out by QueryInterface to
// anyone who does not ask for it by this value.
constexpr IID IID_MemoryStreamImpl = {
    0x3E1A6C52, 0x9F07, 0x4B1D, {0x8A, 0x64, 0x21, 0x7C, 0x5D, 0x90, 0xE3, 0x4B}};

// Streams keep to the platform's 32-bit sizes.
constexpr ULONGLONG kMaxSize = std::numeric_limits<ULONG>::max();
// How much CopyTo moves per write.
constexpr ULONGLONG kCopyChunk = 64 * 1024;

class MemoryStream final : public IStream {
public:
    MemoryStream(std::shared_ptr<std::string> bytes, ULONGLONG position)
        : bytes_(std::move(bytes)), position_(position) {}

    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_ISequentialStream || riid == IID_IStream ||
            riid == IID_MemoryStreamImpl) {
            *ppv = static_cast<IStream*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHOD_(ULONG, AddRef)() override { return ++refs_; }
    STDMETHOD_(ULONG, Release)() override {
        ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }

    STDMETHOD(Read)(void* pv, ULONG cb, ULONG* pcbRead) override {
        if (pcbRead) *pcbRead = 0;
        if (!pv && cb) return STG_E_INVALIDPOINTER;
        ULONGLONG size = bytes_->size();
        ULONG n = 0;
        if (position_ < size) n = static_cast<ULONG>(std::min<ULONGLONG>(cb, size - position_));
        if (n) std::memcpy(pv, bytes_->data() + position_, n);
        position_ += n;
        if (pcbRead) *pcbRead = n;
        return n < cb ? S_FALSE : S_OK;
    }

    STDMETHOD(Write)(const void* pv, ULONG cb, ULONG* pcbWritten) override {
        if (pcbWritten) *pcbWritten = 0;
        if (!pv && cb) return STG_E_INVALIDPOINTER;
        if (cb == 0) return S_OK;
        ULONGLONG end = position_ + cb;
        if (end > kMaxSize) return STG_E_MEDIUMFULL;
        try {
            // Writing past the end fills the gap with zeros.
            if (end > bytes_->size()) bytes_->resize(end, '\0');
        } catch (const std::bad_alloc&) {
            return STG_E_MEDIUMFULL;
        }
        std::memcpy(bytes_->data() + position_, pv, cb);
        position_ = end;
        if (pcbWritten) *pcbWritten = cb;
        return S_OK;
    }

    STDMETHOD(Seek)(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition) override {
        LONGLONG base;
        switch (origin) {
            case STREAM_SEEK_SET:
                base = 0;
                break;
            case STREAM_SEEK_CUR:
                base = static_cast<LONGLONG>(position_);
                break;
            case STREAM_SEEK_END:
                base = static_cast<LONGLONG>(bytes_->size());
                break;
            default:
                return STG_E_INVALIDFUNCTION;
        }
        LONGLONG target;
        if (__builtin_add_overflow(base, move.QuadPart, &target) || target < 0)
            return STG_E_INVALIDFUNCTION;
        position_ = static_cast<ULONGLONG>(target);
        if (newPosition) newPosition->QuadPart = position_;
        return S_OK;
    }

    STDMETHOD(SetSize)(ULARGE_INTEGER newSize) override {
        if (newSize.QuadPart > kMaxSize) return STG_E_MEDIUMFULL;
        try {
            bytes_->resize(newSize.QuadPart, '\0');
        } catch (const std::bad_alloc&) {
            return STG_E_MEDIUMFULL;
        }
        return S_OK;
    }

    STDMETHOD(CopyTo)
    (IStream* pstm, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead,
     ULARGE_INTEGER* pcbWritten) override {
        if (pcbRead) pcbRead->QuadPart = 0;
        if (pcbWritten) pcbWritten->QuadPart = 0;
        if (!pstm) return STG_E_INVALIDPOINTER;
        const ULONGLONG size = bytes_->size();
        ULONGLONG left = position_ < size ? std::min<ULONGLONG>(cb.QuadPart, size - position_) : 0;
        ULONGLONG read = 0;
        ULONGLONG written = 0;
        HRESULT hr = S_OK;
        try {
            // Through a buffer: the target may be a clone whose writes move these very bytes.
            std::string chunk;
            while (left > 0) {
                const ULONG n = static_cast<ULONG>(std::min<ULONGLONG>(left, kCopyChunk));
                chunk.assign(bytes_->data() + position_, n);
                position_ += n;
                read += n;
                left -= n;
                ULONG done = 0;
                hr = pstm->Write(chunk.data(), n, &done);
                written += done;
                if (FAILED(hr)) break;
                if (done < n) {
                    hr = STG_E_MEDIUMFULL;
                    break;
                }
            }
        } catch (...) {
            hr = HresultFromCurrentException();
        }
        if (pcbRead) pcbRead->QuadPart = read;
        if (pcbWritten) pcbWritten->QuadPart = written;
        return hr;
    }

    // Memory has nothing to commit or revert: every write is final.
    STDMETHOD(Commit)(DWORD) override { return S_OK; }
    STDMETHOD(Revert)() override { return S_OK; }
    // Memory streams support no region locks (grfLocksSupported is 0).
    STDMETHOD(LockRegion)(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
        return STG_E_INVALIDFUNCTION;
    }
    STDMETHOD(UnlockRegion)(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
        return STG_E_INVALIDFUNCTION;
    }

    // A memory stream has no name: pwcsName stays null whatever the flag.
    STDMETHOD(Stat)(STATSTG* pstatstg, DWORD grfStatFlag) override {
        if (!pstatstg) return STG_E_INVALIDPOINTER;
        if (grfStatFlag & ~DWORD(STATFLAG_NONAME | STATFLAG_NOOPEN)) return STG_E_INVALIDFLAG;
        *pstatstg = STATSTG{};
        pstatstg->type = STGTY_STREAM;
        pstatstg->cbSize.QuadPart = bytes_->size();
        pstatstg->grfMode = STGM_READWRITE;
        return S_OK;
    }

    STDMETHOD(Clone)(IStream** ppstm) override {
        if (!ppstm) return STG_E_INVALIDPOINTER;
        *ppstm = new (std::nothrow) MemoryStream(bytes_, position_);
        return *ppstm ? S_OK : E_OUTOFMEMORY;
    }

    const std::string& Bytes() const { return *bytes_; }

private:
    ~MemoryStream() = default;

    std::atomic<ULONG> refs_{1};
    std::shared_ptr<std::string> bytes_;
    ULONGLONG position_;
};

}  // namespace

HRESULT CreateStreamOnMemory(const void* bytes, ULONG size, IStream** ppstm) {
    if (!ppstm) return E_POINTER;
    *ppstm = nullptr;
    if (!bytes && size) return E_INVALIDARG;
    try {
        auto data = std::make_shared<std::string>();
        if (size) data->assign(static_cast<const char*>(bytes), size);
        *ppstm = new MemoryStream(std::move(data), 0);
    } catch (...) {
        return HresultFromCurrentException();
    }
    return S_OK;
}

HRESULT CreateStreamOnSharedBytes(std::shared_ptr<std::string> bytes, IStream** ppstm) {
    if (!ppstm) return E_POINTER;
    *ppstm = nullptr;
    if (!bytes) return E_INVALIDARG;
    *ppstm = new (std::nothrow) MemoryStream(std::move(bytes), 0);
    return *ppstm ? S_OK : E_OUTOFMEMORY;
}

bool GetMemoryStreamBytes(IStream* stream, std::string* bytes) {
    if (!stream || !bytes) return false;
    void* p = nullptr;
    if (FAILED(stream->QueryInterface(IID_MemoryStreamImpl, &p)) || !p) return false;
    auto* own = static_cast<MemoryStream*>(static_cast<IStream*>(p));
    *bytes = own->Bytes();
    own->Release();
    return true;
}
