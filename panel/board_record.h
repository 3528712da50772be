// What Lensbay's programs on this machine last wrote to the chip of the board behind the port
// (the chip cannot be read back over the link): one small file beside the port's lock, so that
// the window, the console, the task commands and the GStreamer element all add to one record,
// and `lensbay status` shows it. A program holds the port while it writes, so the file has one
// writer at a time. Raw port writes of other hosts (ocxhost, Windows programs) cannot be told
// apart from any other cycle and are not recorded.
//
//   lensbay-register-record 1
//   register EXCTL 28 1767225600123 lensbay set
//   register FCTL default 1767225600456 lensbay reset
//
// One line per register written since the board was powered on: its name, the register value in
// two lower-case hex digits (or "default" after Default Setting's reset), the time in
// milliseconds since 1970 and the writer's name. A missing file is a board nothing was written to.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "panel/register_record.h"
#include "platform/base/result.h"

namespace panel {

// Where the record of the board PORTIO names is kept: beside the port's lock, the lock's name
// with ".registers" in place of its ".port" ending (the simulated board: beside its state file),
// or with ".registers" added. "" where the port has no lock file (a fresh simulated board, which
// lives and dies with its program).
std::string BoardRecordPath();

std::string FormatBoardRecord(const RegisterRecord& record);
// Refuses anything FormatBoardRecord would not write, naming the line.
base::Result<RegisterRecord> ParseBoardRecord(std::string_view text);

// A missing file gives an empty record. The file is read without following a link or blocking
// on anything but a regular file.
base::Result<RegisterRecord> LoadBoardRecord(const std::string& path);
// Rewrites the file in place under an exclusive lock of its own (readers take a shared one), never
// through a symbolic link or into a file with other names: beside a machine-wide port lock it
// lies in a shared sticky folder (/run/lock), where a rename could not replace another user's
// record. Made readable and writable by every user, as the lock is, so root and a user at one
// port keep one record.
base::Result<> SaveBoardRecord(const std::string& path, const RegisterRecord& record);

// The board's record as one program keeps it: read when the program opens the port, written back
// after every change. Problems are said once on standard error; the program goes on with what it
// knows (a damaged file starts afresh).
class KeptBoardRecord {
public:
    // `writer` names the program in the entries it writes ("lensbay set").
    KeptBoardRecord(std::string path, std::string writer);
    KeptBoardRecord(const KeptBoardRecord&) = delete;
    KeptBoardRecord& operator=(const KeptBoardRecord&) = delete;

    RegisterRecord& Record() { return record_; }
    const RegisterRecord& Record() const { return record_; }
    const std::string& Path() const { return path_; }

private:
    void Save();
    std::string path_;
    RegisterRecord record_;
    bool said_ = false;
};

}  // namespace panel
