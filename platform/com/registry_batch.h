// One registration, one change of the class registry's file. Between RegistryBeginBatch and
// RegistryCommitBatch every change any thread of the process makes is kept in memory (reads see
// it) and the commit writes them all in one replacement of the file. From its first registry
// call to its end the batch holds the file's lock, so batches of several processes run one after
// the other and none loses another's entries. A process that dies before the commit leaves the
// file as it was. Batches nest: only the outermost commit writes, and an abandoned inner level
// makes it fail. RegistryAbandonBatch drops the changes. A failed commit leaves the file as it
// was; its message is also the thread's error object's. (Under Wine, whose registry keeps each
// change as it is made, a batch is nothing and always commits.)
#pragma once

#include "platform/base/result.h"
#include "platform/com/wtypes.h"

COM_EXPORT void RegistryBeginBatch();
COM_EXPORT base::Result<> RegistryCommitBatch();
COM_EXPORT void RegistryAbandonBatch();
