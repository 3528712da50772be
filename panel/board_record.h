// What Lensbay's programs on this machine last wrote to the chip of the board behind the port
// (the chip cannot be read back over the link): one small file beside the port's lock, so that
// the window, the console, the task commands and the GStreamer element all add to one record,
// and `lensbay status` shows it. A program holds the port while it writes, so the file has one
// writer at a time; nobody else's lock is ever waited on for long (see LoadBoardRecord). Raw port
// writes of other hosts (ocxhost, Windows programs) cannot be told apart from any other cycle and
// are not recorded.
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
#include "platform/portio/ending.h"

namespace panel {

// Where the record of the board PORTIO names is kept: beside the port's lock, the lock's name
// with ".registers" in place of its ".port" ending (the simulated board: beside its state file),
// or with ".registers" added. "" where the port has no lock file (a fresh simulated board, which
// lives and dies with its program).
std::string BoardRecordPath();

std::string FormatBoardRecord(const RegisterRecord& record);
// Refuses anything FormatBoardRecord would not write, naming the line.
base::Result<RegisterRecord> ParseBoardRecord(std::string_view text);

// A missing file gives an empty record. The file is read without a lock (writers replace it
// whole) and without following a link or blocking on anything but a regular file; a text that
// does not parse is read again under the record's lock, waited for 200 ms at most. The errors say
// what is in the way: "the register record "F" is a symbolic link, not followed", "... is a FIFO,
// not a regular file", "... cannot be read: REASON", "... is damaged (line N: WHAT)".
base::Result<RegisterRecord> LoadBoardRecord(const std::string& path);
// Writes the record whole: a temporary file beside it renamed over it, never through a symbolic
// link, so a crash leaves the old record or the new one and a reader never waits. Made readable
// and writable by every user, as the lock is, so root and a user at one port keep one record.
// Where the folder lets only a file's owner replace it (another user's record in the sticky
// /run/lock), the record is rewritten in place under its lock instead, waited for 200 ms at most.
// Writers need no lock among themselves: a program writes the record only while it holds the port.
base::Result<> SaveBoardRecord(const std::string& path, const RegisterRecord& record);

// The board's record as one program keeps it: read when the program claims the port (before the
// port is opened), written back by Flush after a sequence has finished its handshake (never
// between two port cycles of one), when the program ends, and when a signal ends it (after the
// port is left idle). Problems are said once on standard error as they are: a damaged record
// starts afresh; a record that cannot be used (a link, a FIFO, a folder, a file this user may not
// read) is left alone and the run is not recorded.
class KeptBoardRecord {
public:
    // `writer` names the program in the entries it writes ("lensbay set").
    KeptBoardRecord(std::string path, std::string writer);
    ~KeptBoardRecord();
    KeptBoardRecord(const KeptBoardRecord&) = delete;
    KeptBoardRecord& operator=(const KeptBoardRecord&) = delete;

    RegisterRecord& Record() { return record_; }
    const RegisterRecord& Record() const { return record_; }
    // "" when the run is not recorded.
    const std::string& Path() const { return path_; }
    // Writes the record if it changed since it was last written. Called once the port is at rest.
    void Flush();

private:
    std::string path_;
    RegisterRecord record_;
    bool dirty_ = false;
    bool said_ = false;
    portio::EndingCleanup on_ending_;
};

}  // namespace panel
