// Streams and stream persistence: IStream, IPersist, IPersistStreamInit.
#pragma once

#include "platform/com/unknwn.h"

union LARGE_INTEGER {
    LONGLONG QuadPart;
};
union ULARGE_INTEGER {
    ULONGLONG QuadPart;
};

enum STREAM_SEEK : DWORD { STREAM_SEEK_SET = 0, STREAM_SEEK_CUR = 1, STREAM_SEEK_END = 2 };

inline constexpr IID IID_ISequentialStream = {
    0x0C733A30, 0x2A1C, 0x11CE, {0xAD, 0xE5, 0x00, 0xAA, 0x00, 0x44, 0x77, 0x3D}};
inline constexpr IID IID_IStream = {0x0000000C, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IPersist = {0x0000010C, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IPersistStream = {
    0x00000109, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IPersistStreamInit = {
    0x7FD52380, 0x4E07, 0x101B, {0xAE, 0x2D, 0x08, 0x00, 0x2B, 0x2E, 0xC7, 0x13}};

struct ISequentialStream : IUnknown {
    // pcb may be null. A short read is S_FALSE with *pcb < cb, as the platform's streams do.
    STDMETHOD(Read)(void* pv, ULONG cb, ULONG* pcbRead) = 0;
    STDMETHOD(Write)(const void* pv, ULONG cb, ULONG* pcbWritten) = 0;

protected:
    ~ISequentialStream() = default;
};

struct IStream : ISequentialStream {
    STDMETHOD(Seek)(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition) = 0;
    STDMETHOD(SetSize)(ULARGE_INTEGER newSize) = 0;
    STDMETHOD(Commit)(DWORD flags) = 0;
    STDMETHOD(Revert)() = 0;
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

// A stream over growable memory. The initial bytes (may be null/0) are copied in; the position
// starts at 0. Under the platform's name when no global memory handle is passed.
COM_EXPORT HRESULT CreateStreamOnMemory(const void* bytes, ULONG size, IStream** ppstm);
// Copies the whole content of a stream made by CreateStreamOnMemory (false for other streams).
COM_EXPORT bool GetMemoryStreamBytes(IStream* stream, std::string* bytes);
