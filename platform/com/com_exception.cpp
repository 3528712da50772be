#include "platform/com/com_exception.h"

#include <new>

#include "platform/com/error_text.h"
#include "platform/com/oaidl.h"
#include "platform/com/utf.h"

namespace {

// The code and, for a ComException, the description of the exception being handled.
HRESULT Classify(const std::string** description) noexcept {
    *description = nullptr;
    try {
        throw;
    } catch (const ComException& e) {
        *description = &e.Description();
        return e.Code();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

}  // namespace

HRESULT HresultFromCurrentException() noexcept {
    const std::string* description;
    return Classify(&description);
}

HRESULT DispExceptionFromCurrentException(EXCEPINFO* info) noexcept {
    const std::string* description;
    const HRESULT code = Classify(&description);
    // The caller's script host may read the description from the error object instead.
    if (description) SetErrorInfoText(*description);
    if (info) {
        *info = EXCEPINFO{};
        info->scode = code;
        if (description) {
            // A description that cannot be allocated is left out; the code still travels.
            try {
                const std::u16string text = Utf8ToOle(*description);
                info->bstrDescription =
                    SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
            } catch (...) {
                info->bstrDescription = nullptr;
            }
        }
    }
    return DISP_E_EXCEPTION;
}
