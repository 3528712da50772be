// Streams and stream persistence (IStream, IPersist, IPersistStreamInit), storages and storage
// persistence (IStorage, IPersistStorage) and the advise sink through which an object tells its
// container that its view or its state changed.
#pragma once

#include "platform/com/unknwn.h"

union LARGE_INTEGER {
    LONGLONG QuadPart;
};
union ULARGE_INTEGER {
    ULONGLONG QuadPart;
};

enum STREAM_SEEK : DWORD { STREAM_SEEK_SET = 0, STREAM_SEEK_CUR = 1, STREAM_SEEK_END = 2 };

struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};

// What Stat tells of a storage object.
enum STGTY : DWORD { STGTY_STORAGE = 1, STGTY_STREAM = 2, STGTY_LOCKBYTES = 3, STGTY_PROPERTY = 4 };
enum STATFLAG : DWORD { STATFLAG_DEFAULT = 0, STATFLAG_NONAME = 1, STATFLAG_NOOPEN = 2 };
enum LOCKTYPE : DWORD { LOCK_WRITE = 1, LOCK_EXCLUSIVE = 2, LOCK_ONLYONCE = 4 };
constexpr DWORD STGM_READ = 0x0;
constexpr DWORD STGM_WRITE = 0x1;
constexpr DWORD STGM_READWRITE = 0x2;
constexpr DWORD STGM_SHARE_DENY_NONE = 0x40;
constexpr DWORD STGM_SHARE_DENY_READ = 0x30;
constexpr DWORD STGM_SHARE_DENY_WRITE = 0x20;
constexpr DWORD STGM_SHARE_EXCLUSIVE = 0x10;
constexpr DWORD STGM_FAILIFTHERE = 0x0;
constexpr DWORD STGM_CREATE = 0x1000;
constexpr DWORD STGM_TRANSACTED = 0x10000;
constexpr DWORD STGM_DELETEONRELEASE = 0x4000000;
constexpr HRESULT STG_E_INVALIDFLAG = hresult(0x800300FF);
constexpr HRESULT STG_E_FILENOTFOUND = hresult(0x80030002);
constexpr HRESULT STG_E_ACCESSDENIED = hresult(0x80030005);
constexpr HRESULT STG_E_FILEALREADYEXISTS = hresult(0x80030050);
constexpr HRESULT STG_E_INVALIDPARAMETER = hresult(0x80030057);
constexpr HRESULT STG_E_INVALIDNAME = hresult(0x800300FC);

struct STATSTG {
    LPOLESTR pwcsName;  // freed by the caller with CoTaskMemFree; null with STATFLAG_NONAME
    DWORD type;         // STGTY
    ULARGE_INTEGER cbSize;
    FILETIME mtime;
    FILETIME ctime;
    FILETIME atime;
    DWORD grfMode;
    DWORD grfLocksSupported;
    CLSID clsid;
    DWORD grfStateBits;
    DWORD reserved;
};

inline constexpr IID IID_ISequentialStream = {
    0x0C733A30, 0x2A1C, 0x11CE, {0xAD, 0xE5, 0x00, 0xAA, 0x00, 0x44, 0x77, 0x3D}};
inline constexpr IID IID_IStream = {0x0000000C, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IPersist = {0x0000010C, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IPersistStream = {
    0x00000109, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IPersistStreamInit = {
    0x7FD52380, 0x4E07, 0x101B, {0xAE, 0x2D, 0x08, 0x00, 0x2B, 0x2E, 0xC7, 0x13}};
inline constexpr IID IID_IStorage = {0x0000000B, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IEnumSTATSTG = {
    0x0000000D, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IPersistStorage = {
    0x0000010A, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

struct ISequentialStream : IUnknown {
    // pcb may be null. A short read is S_FALSE with *pcb < cb, as the platform's streams do.
    STDMETHOD(Read)(void* pv, ULONG cb, ULONG* pcbRead) = 0;
    STDMETHOD(Write)(const void* pv, ULONG cb, ULONG* pcbWritten) = 0;

protected:
    ~ISequentialStream() = default;
};

// The platform's method order: a vtable laid out like its own.
struct IStream : ISequentialStream {
    STDMETHOD(Seek)(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition) = 0;
    STDMETHOD(SetSize)(ULARGE_INTEGER newSize) = 0;
    // Reads up to cb bytes from the current position and writes them into pstm at its own.
    STDMETHOD(CopyTo)
    (IStream* pstm, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead, ULARGE_INTEGER* pcbWritten) = 0;
    STDMETHOD(Commit)(DWORD flags) = 0;
    STDMETHOD(Revert)() = 0;
    STDMETHOD(LockRegion)(ULARGE_INTEGER offset, ULARGE_INTEGER cb, DWORD lockType) = 0;
    STDMETHOD(UnlockRegion)(ULARGE_INTEGER offset, ULARGE_INTEGER cb, DWORD lockType) = 0;
    STDMETHOD(Stat)(STATSTG* pstatstg, DWORD grfStatFlag) = 0;
    STDMETHOD(Clone)(IStream** ppstm) = 0;

protected:
    ~IStream() = default;
};

struct IPersist : IUnknown {
    STDMETHOD(GetClassID)(CLSID* pClassID) = 0;

protected:
    ~IPersist() = default;
};

struct IPersistStreamInit : IPersist {
    STDMETHOD(IsDirty)() = 0;
    STDMETHOD(Load)(IStream* pStm) = 0;
    STDMETHOD(Save)(IStream* pStm, BOOL fClearDirty) = 0;
    STDMETHOD(GetSizeMax)(ULARGE_INTEGER* pCbSize) = 0;
    STDMETHOD(InitNew)() = 0;

protected:
    ~IPersistStreamInit() = default;
};

// ---------------------------------------------------------------- storages

// Names of elements a storage operation leaves out; null-terminated.
using SNB = OLECHAR**;

// The elements of a storage, one STATSTG each (the names freed by the caller with CoTaskMemFree).
struct IEnumSTATSTG : IUnknown {
    STDMETHOD(Next)(ULONG celt, STATSTG* rgelt, ULONG* pceltFetched) = 0;
    STDMETHOD(Skip)(ULONG celt) = 0;
    STDMETHOD(Reset)() = 0;
    STDMETHOD(Clone)(IEnumSTATSTG** ppenum) = 0;

protected:
    ~IEnumSTATSTG() = default;
};

// A storage: named streams and storages inside one object, as a compound file holds them. The
// platform's method order: a vtable laid out like its own. Element names are at most 31
// characters; streams are opened with STGM_SHARE_EXCLUSIVE.
struct IStorage : IUnknown {
    STDMETHOD(CreateStream)
    (const OLECHAR* pwcsName, DWORD grfMode, DWORD reserved1, DWORD reserved2, IStream** ppstm) = 0;
    STDMETHOD(OpenStream)
    (const OLECHAR* pwcsName, void* reserved1, DWORD grfMode, DWORD reserved2, IStream** ppstm) = 0;
    STDMETHOD(CreateStorage)
    (const OLECHAR* pwcsName, DWORD grfMode, DWORD reserved1, DWORD reserved2,
     IStorage** ppstg) = 0;
    STDMETHOD(OpenStorage)
    (const OLECHAR* pwcsName, IStorage* pstgPriority, DWORD grfMode, SNB snbExclude, DWORD reserved,
     IStorage** ppstg) = 0;
    STDMETHOD(CopyTo)
    (DWORD ciidExclude, const IID* rgiidExclude, SNB snbExclude, IStorage* pstgDest) = 0;
    STDMETHOD(MoveElementTo)
    (const OLECHAR* pwcsName, IStorage* pstgDest, const OLECHAR* pwcsNewName, DWORD grfFlags) = 0;
    STDMETHOD(Commit)(DWORD grfCommitFlags) = 0;
    STDMETHOD(Revert)() = 0;
    STDMETHOD(EnumElements)
    (DWORD reserved1, void* reserved2, DWORD reserved3, IEnumSTATSTG** ppenum) = 0;
    STDMETHOD(DestroyElement)(const OLECHAR* pwcsName) = 0;
    STDMETHOD(RenameElement)(const OLECHAR* pwcsOldName, const OLECHAR* pwcsNewName) = 0;
    STDMETHOD(SetElementTimes)
    (const OLECHAR* pwcsName, const FILETIME* pctime, const FILETIME* patime,
     const FILETIME* pmtime) = 0;
    STDMETHOD(SetClass)(REFCLSID clsid) = 0;
    STDMETHOD(SetStateBits)(DWORD grfStateBits, DWORD grfMask) = 0;
    STDMETHOD(Stat)(STATSTG* pstatstg, DWORD grfStatFlag) = 0;

protected:
    ~IStorage() = default;
};

// An object kept in a storage of its container's (a compound file's, through OleSave and
// OleLoad). InitNew or Load once (then CO_E_ALREADYINITIALIZED); after Save the object writes
// nothing until SaveCompleted, and after HandsOffStorage it holds no storage until SaveCompleted
// gives it one.
struct IPersistStorage : IPersist {
    STDMETHOD(IsDirty)() = 0;
    STDMETHOD(InitNew)(IStorage* pStg) = 0;
    STDMETHOD(Load)(IStorage* pStg) = 0;
    STDMETHOD(Save)(IStorage* pStgSave, BOOL fSameAsLoad) = 0;
    STDMETHOD(SaveCompleted)(IStorage* pStgNew) = 0;
    STDMETHOD(HandsOffStorage)() = 0;

protected:
    ~IPersistStorage() = default;
};

// ---------------------------------------------------------------- advise sinks

// What an advise sink's methods name but an object of ours never hands over.
struct IMoniker;
struct IDataObject;
struct IEnumSTATDATA;
struct FORMATETC;
struct STGMEDIUM;

// A target device of a drawing (a printer's description); null names the screen.
struct DVTARGETDEVICE {
    DWORD tdSize;
    WORD tdDriverNameOffset;
    WORD tdDeviceNameOffset;
    WORD tdPortNameOffset;
    WORD tdExtDevmodeOffset;
    BYTE tdData[1];
};

// How an advise sink wants to be told (IViewObject::SetAdvise).
enum ADVF : DWORD { ADVF_NODATA = 1, ADVF_PRIMEFIRST = 2, ADVF_ONLYONCE = 4 };

inline constexpr IID IID_IAdviseSink = {0x0000010F, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

// A container's sink for an object's notifications; none of them answers.
struct IAdviseSink : IUnknown {
    STDMETHOD_(void, OnDataChange)(FORMATETC* pFormatetc, STGMEDIUM* pStgmed) = 0;
    STDMETHOD_(void, OnViewChange)(DWORD dwAspect, LONG lindex) = 0;
    STDMETHOD_(void, OnRename)(IMoniker* pmk) = 0;
    STDMETHOD_(void, OnSave)() = 0;
    STDMETHOD_(void, OnClose)() = 0;

protected:
    ~IAdviseSink() = default;
};
