#include "platform/com/reg_status.h"

#include <cerrno>
#include <cstring>

#include "platform/com/error_text.h"
#include "platform/com/oaidl.h"

namespace reg {
namespace {}  // namespace

LSTATUS Fail(LSTATUS status, std::string text) {
    SetErrorInfoText(text);
    return status;
}

LSTATUS FailErrno(int err, const std::string& what) {
    LSTATUS status = (err == EACCES || err == EPERM || err == EROFS) ? ERROR_ACCESS_DENIED
                                                                     : ERROR_REGISTRY_IO_FAILED;
    return Fail(status, what + ": " + std::strerror(err));
}

LSTATUS NotRegular(const std::string& path) {
    return Fail(ERROR_ACCESS_DENIED, path +
                                         " is not a regular file; the class registry must be one "
                                         "(nothing written)");
}

LSTATUS KeyDeleted(const Names& names) {
    return Fail(ERROR_KEY_DELETED, "the key " + JoinNames(names) + " has been deleted");
}

LSTATUS NotFound(const Names& names) {
    return Fail(ERROR_FILE_NOT_FOUND, "no key " + JoinNames(names));
}

std::string JoinNames(const Names& names) {
    std::string out;
    for (const auto& n : names) {
        if (!out.empty()) out.push_back('\\');
        out += n;
    }
    return out;
}

}  // namespace reg
