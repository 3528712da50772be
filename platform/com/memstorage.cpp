// IStorage in memory: named streams over shared bytes, the storage's class and state bits.
#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <string>

#include "platform/com/com_exception.h"
#include "platform/com/com_ptr.h"
#include "platform/com/combase.h"
#include "platform/com/memory_storage.h"
#include "platform/com/memory_stream.h"
#include "platform/com/single_unknown.h"

namespace {

// The longest element name a compound file takes, in characters.
constexpr std::size_t kMaxName = 31;

// The key of a name: compound files compare names without regard to case.
bool NameKey(const OLECHAR* name, std::u16string* key) {
    if (!name) return false;
    key->clear();
    for (const OLECHAR* c = name; *c; ++c) {
        if (key->size() == kMaxName || *c == u'\\' || *c == u'/' || *c == u':' || *c == u'!')
            return false;
        key->push_back(*c >= u'a' && *c <= u'z' ? static_cast<OLECHAR>(*c - u'a' + u'A') : *c);
    }
    return !key->empty();
}

// Streams are opened for exclusive use, as in a compound file.
bool SharingExclusive(DWORD grfMode) { return (grfMode & 0x70) == STGM_SHARE_EXCLUSIVE; }

struct Element {
    std::u16string name;  // as it was created
    std::shared_ptr<std::string> bytes;
};

class MemoryStorage final : public com::SingleUnknown<IStorage, IID_IStorage> {
public:
    STDMETHOD(CreateStream)
    (const OLECHAR* pwcsName, DWORD grfMode, DWORD, DWORD, IStream** ppstm) override {
        if (!ppstm) return STG_E_INVALIDPOINTER;
        *ppstm = nullptr;
        if (!pwcsName) return STG_E_INVALIDPOINTER;
        std::u16string key;
        if (!NameKey(pwcsName, &key)) return STG_E_INVALIDNAME;
        if (!SharingExclusive(grfMode)) return STG_E_INVALIDFLAG;
        try {
            auto it = elements_.find(key);
            if (it != elements_.end()) {
                if (!(grfMode & STGM_CREATE)) return STG_E_FILEALREADYEXISTS;
                if (it->second.bytes.use_count() > 1) return STG_E_ACCESSDENIED;
                it->second.bytes->clear();
            } else {
                it = elements_.emplace(key, Element{pwcsName, std::make_shared<std::string>()})
                         .first;
            }
            return CreateStreamOnSharedBytes(it->second.bytes, ppstm);
        } catch (...) {
            return HresultFromCurrentException();
        }
    }

    STDMETHOD(OpenStream)
    (const OLECHAR* pwcsName, void*, DWORD grfMode, DWORD, IStream** ppstm) override {
        if (!ppstm) return STG_E_INVALIDPOINTER;
        *ppstm = nullptr;
        if (!pwcsName) return STG_E_INVALIDPOINTER;
        std::u16string key;
        if (!NameKey(pwcsName, &key)) return STG_E_INVALIDNAME;
        if (!SharingExclusive(grfMode) || (grfMode & STGM_CREATE)) return STG_E_INVALIDFLAG;
        try {
            auto it = elements_.find(key);
            if (it == elements_.end()) return STG_E_FILENOTFOUND;
            if (it->second.bytes.use_count() > 1) return STG_E_ACCESSDENIED;
            return CreateStreamOnSharedBytes(it->second.bytes, ppstm);
        } catch (...) {
            return HresultFromCurrentException();
        }
    }

    STDMETHOD(CreateStorage)(const OLECHAR*, DWORD, DWORD, DWORD, IStorage** ppstg) override {
        if (ppstg) *ppstg = nullptr;
        return STG_E_INVALIDFUNCTION;
    }
    STDMETHOD(OpenStorage)
    (const OLECHAR*, IStorage*, DWORD, SNB, DWORD, IStorage** ppstg) override {
        if (ppstg) *ppstg = nullptr;
        return STG_E_INVALIDFUNCTION;
    }

    // Copies every stream (and the class) into pstgDest, over streams of the same names there.
    STDMETHOD(CopyTo)(DWORD, const IID*, SNB, IStorage* pstgDest) override {
        if (!pstgDest) return STG_E_INVALIDPOINTER;
        for (const auto& [key, element] : elements_) {
            ComPtr<IStream> target;
            HRESULT hr = pstgDest->CreateStream(element.name.c_str(),
                                                STGM_CREATE | STGM_WRITE | STGM_SHARE_EXCLUSIVE, 0,
                                                0, &target);
            if (FAILED(hr)) return hr;
            ULONG written = 0;
            const std::string& bytes = *element.bytes;
            hr = target->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written);
            if (FAILED(hr)) return hr;
            if (written != bytes.size()) return STG_E_MEDIUMFULL;
        }
        return pstgDest->SetClass(clsid_);
    }
    STDMETHOD(MoveElementTo)(const OLECHAR*, IStorage*, const OLECHAR*, DWORD) override {
        return STG_E_INVALIDFUNCTION;
    }

    // Every write is final: there is nothing to commit or revert.
    STDMETHOD(Commit)(DWORD) override { return S_OK; }
    STDMETHOD(Revert)() override { return S_OK; }
    STDMETHOD(EnumElements)(DWORD, void*, DWORD, IEnumSTATSTG** ppenum) override {
        if (ppenum) *ppenum = nullptr;
        return E_NOTIMPL;
    }

    STDMETHOD(DestroyElement)(const OLECHAR* pwcsName) override {
        std::u16string key;
        if (!pwcsName) return STG_E_INVALIDPOINTER;
        if (!NameKey(pwcsName, &key)) return STG_E_INVALIDNAME;
        auto it = elements_.find(key);
        if (it == elements_.end()) return STG_E_FILENOTFOUND;
        if (it->second.bytes.use_count() > 1) return STG_E_ACCESSDENIED;
        elements_.erase(it);
        return S_OK;
    }

    STDMETHOD(RenameElement)(const OLECHAR* pwcsOldName, const OLECHAR* pwcsNewName) override {
        std::u16string oldKey, newKey;
        if (!pwcsOldName || !pwcsNewName) return STG_E_INVALIDPOINTER;
        if (!NameKey(pwcsOldName, &oldKey) || !NameKey(pwcsNewName, &newKey))
            return STG_E_INVALIDNAME;
        auto it = elements_.find(oldKey);
        if (it == elements_.end()) return STG_E_FILENOTFOUND;
        if (elements_.count(newKey)) return STG_E_FILEALREADYEXISTS;
        if (it->second.bytes.use_count() > 1) return STG_E_ACCESSDENIED;
        try {
            Element moved{pwcsNewName, it->second.bytes};
            elements_.erase(it);
            elements_.emplace(newKey, std::move(moved));
        } catch (...) {
            return HresultFromCurrentException();
        }
        return S_OK;
    }

    // Memory keeps no times.
    STDMETHOD(SetElementTimes)
    (const OLECHAR*, const FILETIME*, const FILETIME*, const FILETIME*) override { return S_OK; }

    STDMETHOD(SetClass)(REFCLSID clsid) override {
        clsid_ = clsid;
        return S_OK;
    }
    STDMETHOD(SetStateBits)(DWORD grfStateBits, DWORD grfMask) override {
        stateBits_ = (stateBits_ & ~grfMask) | (grfStateBits & grfMask);
        return S_OK;
    }

    // A storage in memory has no name: pwcsName stays null whatever the flag.
    STDMETHOD(Stat)(STATSTG* pstatstg, DWORD grfStatFlag) override {
        if (!pstatstg) return STG_E_INVALIDPOINTER;
        if (grfStatFlag & ~DWORD(STATFLAG_NONAME | STATFLAG_NOOPEN)) return STG_E_INVALIDFLAG;
        *pstatstg = STATSTG{};
        pstatstg->type = STGTY_STORAGE;
        pstatstg->grfMode = STGM_READWRITE | STGM_SHARE_EXCLUSIVE;
        pstatstg->clsid = clsid_;
        pstatstg->grfStateBits = stateBits_;
        return S_OK;
    }

private:
    ~MemoryStorage() override = default;

    std::map<std::u16string, Element> elements_;
    CLSID clsid_ = GUID_NULL;
    DWORD stateBits_ = 0;
};

}  // namespace

HRESULT CreateStorageOnMemory(IStorage** ppstg) {
    if (!ppstg) return E_POINTER;
    *ppstg = new (std::nothrow) MemoryStorage();
    return *ppstg ? S_OK : E_OUTOFMEMORY;
}
