// Streams over growable memory, for persisting objects to bytes and back.
#pragma once

#include <memory>
#include <string>

#include "platform/com/objidl.h"

// A stream over growable memory. The initial bytes (may be null/0) are copied in; the position
// starts at 0. Under the platform's name when no global memory handle is passed.
COM_EXPORT HRESULT CreateStreamOnMemory(const void* bytes, ULONG size, IStream** ppstm);
// Copies the whole content of a stream made by CreateStreamOnMemory (false for other streams).
COM_EXPORT bool GetMemoryStreamBytes(IStream* stream, std::string* bytes);
// A stream over bytes that others share (the streams of a memory storage): what one writes, every
// stream over the same bytes reads. The position starts at 0.
COM_EXPORT HRESULT CreateStreamOnSharedBytes(std::shared_ptr<std::string> bytes, IStream** ppstm);
