// Not of the platform: one way from a C++ exception to what a COM call answers. Every interface
// method that runs code which may throw ends in
//
//   } catch (...) { return HresultFromCurrentException(); }
//
// and an Invoke in DispExceptionFromCurrentException(pExcepInfo).
#pragma once

#include <exception>
#include <string>

#include "platform/com/oleauto.h"

// An exception that carries the HRESULT a failed call answers and the description a caller
// shows (UTF-8).
class COM_EXPORT ComException : public std::exception {
public:
    ComException(std::string description, SCODE scode)
        : description_(std::move(description)), scode_(scode) {}
    const char* what() const noexcept override { return description_.c_str(); }
    const std::string& Description() const { return description_; }
    SCODE Code() const { return scode_; }

private:
    std::string description_;
    SCODE scode_;
};

// The HRESULT of the exception being handled: a ComException's own code, E_OUTOFMEMORY for a
// failed allocation, E_UNEXPECTED for anything else. Call only within a catch block.
COM_EXPORT HRESULT HresultFromCurrentException() noexcept;
// The same inside IDispatch::Invoke: DISP_E_EXCEPTION, with the code above in info->scode and a
// ComException's description in info->bstrDescription (info may be null; it is overwritten).
// A ComException's description also becomes the thread's error object.
COM_EXPORT HRESULT DispExceptionFromCurrentException(EXCEPINFO* info) noexcept;
